#!/usr/bin/env bash
# Installs with apt-get whatever of the named package groups is missing.
#   deps.sh run        what building and running voltanis needs: compiler,
#                      CMake, libasound
#   deps.sh build      run + GoogleTest, Google Benchmark, Python
#   deps.sh test       build + what the tests need (clang, sanitizer runtimes,
#                      alsa-utils, qemu for the ALSA virtual machine, the
#                      MinGW-w64 cross compiler and wine, man and the Debian
#                      packaging tools)
set -euo pipefail

run_pkgs=(g++ cmake make pkg-config libasound2-dev)
build_pkgs=(libgtest-dev libbenchmark-dev python3)
test_pkgs=(clang libclang-rt-14-dev alsa-utils qemu-system-x86 busybox-static
           g++-mingw-w64-x86-64-posix googletest wine wine64 util-linux procps
           man-db dpkg-dev file)

want=("${run_pkgs[@]}")
case "${1:-build}" in
    run) ;;
    build) want+=("${build_pkgs[@]}") ;;
    test) want+=("${build_pkgs[@]}" "${test_pkgs[@]}") ;;
    *) echo "deps.sh: unknown group '$1' (run, build or test)" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "deps.sh: missing packages: ${missing[*]}" >&2
        echo "deps.sh: installing them needs root, and sudo is not installed: run the" >&2
        echo "deps.sh: command again as root (after su -), or install sudo and use it" >&2
        exit 1
    fi
    sudo="sudo"
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
