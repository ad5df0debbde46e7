#!/usr/bin/env bash
# Checks what a built tree installs and packages:
#   bash scripts/package-check.sh [BUILD_DIR]      (default: build-test)
# cmake --install into a scratch DESTDIR must give bin/voltanis,
# share/man/man1/voltanis.1 and the bash and zsh completion; man -l must format the page without a warning;
# cpack -G DEB must give a package that holds both files and depends on
# the C library (and on libasound2 when the program uses it).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="${1:-build-test}"
dest="$(mktemp -d /tmp/voltanis-install.XXXXXX)"
trap 'rm -rf "$dest"' EXIT
fail() { echo "package-check: $*" >&2; exit 1; }

DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null
bin="$dest/usr/bin/voltanis"
page="$dest/usr/share/man/man1/voltanis.1"
[ -x "$bin" ] || fail "no usr/bin/voltanis in the installed tree"
[ -f "$page" ] || fail "no usr/share/man/man1/voltanis.1 in the installed tree"
for f in usr/share/bash-completion/completions/voltanis usr/share/zsh/vendor-completions/_voltanis; do
    [ -f "$dest/$f" ] || fail "no $f in the installed tree"
done
"$bin" --version | grep -qx 'voltanis [0-9][0-9.]*' || fail "the installed program's --version is wrong"

warnings="$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
[ -z "$warnings" ] || fail "man -l warns about the page: $warnings"
text="$(MANWIDTH=80 man -l "$page" 2>/dev/null)"
for section in OPTIONS KEYS "LETTER COMMANDS" FILES "EXIT STATUS"; do
    grep -qx "$section" <<<"$text" || fail "the man page has no section $section"
done

rm -f "$build"/voltanis_*.deb
log="$(cd "$build" && cpack -G DEB 2>&1)" || fail "cpack -G DEB failed: $log"
deb="$(ls "$build"/voltanis_*.deb)"
contents="$(dpkg-deb -c "$deb")"
for f in ./usr/bin/voltanis ./usr/share/man/man1/voltanis.1 ./usr/share/bash-completion/completions/voltanis \
    ./usr/share/zsh/vendor-completions/_voltanis; do
    grep -q " $f\$" <<<"$contents" || fail "$deb does not hold $f"
done
depends="$(dpkg-deb -f "$deb" Depends)"
grep -q 'libc6' <<<"$depends" || fail "$deb does not depend on libc6: $depends"
if ldd "$bin" | grep -q libasound; then
    grep -q 'libasound2' <<<"$depends" || fail "$deb does not depend on libasound2: $depends"
fi
echo "package-check: installed tree, man page and $(basename "$deb") (Depends: $depends) as they should be"
