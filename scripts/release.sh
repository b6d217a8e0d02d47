#!/usr/bin/env bash
# Builds, tests and packages TOBRIN into dist/:
#   tobrin-<version>-windows-x86_64.zip  tobrin.exe (static), README-windows.txt and
#                                        einstein-cable.svg (the cable's drawing)
#   tobrin_<version>_amd64.deb           tobrin, einstein-sim, their manual pages, the README
#   SHA256SUMS                           of both
# The version is the CMake project version, the one the banner shows.
#
#   bash scripts/release.sh           the test command first, then the packages
#   bash scripts/release.sh --quick   the packages without the test command
#                                     (the test command runs this)
#
# Either way the packages get every check: their contents, the .deb's
# dependencies, the manual pages render without a warning, the packaged
# tobrin and the zipped tobrin.exe (under wine) print their usage.
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
[ "${1:-}" = "--quick" ] && quick=1
bash scripts/install-deps.sh
[ "$quick" = 1 ] || bash scripts/test.sh

echo "=== release: the Linux programs and the .deb"
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
(cd build/release && cpack -G DEB >/dev/null)
echo "=== release: tobrin.exe and the .zip"
cmake --preset windows >/dev/null
cmake --build --preset windows --target tobrin >/dev/null

rm -rf dist
mkdir -p dist
deb="tobrin_${version}_amd64.deb"
zip="tobrin-${version}-windows-x86_64.zip"
cp "build/release/$deb" dist/
stage=build/release/zip/tobrin-${version}
rm -rf build/release/zip
mkdir -p "$stage"
cp build/windows/tobrin.exe docs/einstein-cable.svg "$stage/"
sed "s/@TOBRIN_VERSION@/${version}/" packaging/README-windows.txt | sed 's/$/\r/' >"$stage/README-windows.txt"
(cd build/release/zip && cmake -E tar cf "../../../dist/$zip" --format=zip "tobrin-${version}")
(cd dist && sha256sum "$deb" "$zip" >SHA256SUMS)

echo "=== release: checks"
fail() { echo "release: $*" >&2; exit 1; }
contents=$(dpkg-deb -c "dist/$deb")
for f in ./usr/bin/tobrin ./usr/bin/einstein-sim ./usr/share/man/man1/tobrin.1 ./usr/share/man/man1/einstein-sim.1 \
         ./usr/share/doc/tobrin/README.md; do
  grep -q " $f" <<<"$contents" || grep -q " $f.gz" <<<"$contents" || fail "$deb lacks $f"
done
depends=$(dpkg-deb -f "dist/$deb" Depends)
grep -q "libz80ex1" <<<"$depends" || fail "$deb does not depend on libz80ex1 ($depends)"
[ "$(dpkg-deb -f "dist/$deb" Version)" = "$version" ] || fail "$deb has the wrong version"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "dist/$deb" "$unpacked"
for page in tobrin einstein-sim; do
  file="$unpacked/usr/share/man/man1/$page.1"
  [ -f "$file" ] || file="$file.gz"
  warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "the manual page $page(1) renders with warnings: $warnings"
  footer=$(MANWIDTH=80 man -l "$file" 2>/dev/null | tail -1)
  grep -q "tobrin ${version} " <<<"$footer" || fail "the manual page $page(1) does not show version ${version}: $footer"
  ! zgrep -q "@[A-Z_]*@" "$file" || fail "the manual page $page(1) has a placeholder left unfilled"
done
usage=$("$unpacked/usr/bin/tobrin" -? || true)
grep -q "^TOBRIN: Einstein System Disk Transfer V${version}\$" <<<"$usage" || fail "the packaged tobrin shows another version"
grep -q "^  -read <file>" <<<"$usage" || fail "the packaged tobrin does not print its usage"
listing=$(cd dist && cmake -E tar tf "$zip")
for f in "tobrin-${version}/tobrin.exe" "tobrin-${version}/README-windows.txt" "tobrin-${version}/einstein-cable.svg"; do
  grep -qx "$f" <<<"$listing" || fail "$zip lacks $f"
done
! grep -q "@[A-Z_]*@" "$stage/README-windows.txt" || fail "README-windows.txt has a placeholder left unfilled"
(cd dist && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS does not match"
# The usage ends with status 1, as it should: take the output, then judge it.
root=$PWD
(cd "$unpacked" && cmake -E tar xf "$root/dist/$zip")
(
  source scripts/wine-env.sh
  # A server of its own and its services started first, their output to
  # /dev/null: wine's services outlive the program and would hold a pipe
  # open.  The usage goes to a file for the same reason.  Ended after.
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
  wineserver -p >/dev/null 2>&1 </dev/null || true
  timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  printed="$unpacked/usage.txt"
  timeout 120 wine "$unpacked/tobrin-${version}/tobrin.exe" -? </dev/null >"$printed" 2>/dev/null || true
  exe_usage=$(tr -d '\r' <"$printed")
  grep -q "^TOBRIN: Einstein System Disk Transfer V${version}\$" <<<"$exe_usage" || fail "tobrin.exe under wine shows another version"
  grep -q "^  -read <file>" <<<"$exe_usage" || fail "tobrin.exe does not print its usage under wine"
)
ls -l dist
echo "release: dist/ holds $deb, $zip and SHA256SUMS"
