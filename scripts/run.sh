#!/usr/bin/env bash
# Installs what is missing, builds Voltanis and starts it in the current
# directory (where it keeps VOLTANIS.SET and VOLTANIS.REC).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" build
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DVOLTANIS_TESTS=OFF -DVOLTANIS_BENCH=OFF >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target voltanis
exec "$root/build/voltanis"
