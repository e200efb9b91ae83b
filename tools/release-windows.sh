#!/usr/bin/env bash
# Builds the 32-bit Windows program with MinGW-w64 and packs the release
# archive build-win32/oskavi-<version>-win32.zip (oskavi.exe, README.md and
# LICENSE at its top level). Run from anywhere; when run as root it first installs the cross
# compiler and zip with apt-get if they are missing.
#   tools/release-windows.sh
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
if [ "$(id -u)" -eq 0 ] && { ! command -v i686-w64-mingw32-g++-posix > /dev/null || ! command -v zip > /dev/null; }; then
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends cmake ninja-build g++-mingw-w64-i686-posix zip
fi
build=build-win32
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSKAVI_BUILD_TESTS=OFF -DOSKAVI_BUILD_BENCH=OFF \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
cmake --build "$build" --target oskavi --parallel 2
i686-w64-mingw32-strip "$build/oskavi.exe"

# Only system DLLs may be imported: the runtime is linked in.
imports=$(i686-w64-mingw32-objdump -p "$build/oskavi.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
for dll in $imports; do
    case "$dll" in kernel32.dll|msvcrt.dll|shell32.dll|psapi.dll) ;; *) echo "unexpected DLL import: $dll" >&2; exit 1 ;; esac
done

version=$(sed -n 's/^project(oskavi VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
archive="$root/$build/oskavi-$version-win32.zip"
rm -f "$archive"
zip -q -j -X "$archive" "$build/oskavi.exe" README.md LICENSE
echo "$archive"
