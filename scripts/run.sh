#!/usr/bin/env bash
# Installs what is missing, builds Voltanis and starts it in the current
# directory (where it keeps VOLTANIS.SET and VOLTANIS.REC), with the
# arguments given (bash scripts/run.sh -l lists the ports).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" run
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DVOLTANIS_TESTS=OFF -DVOLTANIS_BENCH=OFF >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target voltanis
exec "$root/build/voltanis" "$@"
