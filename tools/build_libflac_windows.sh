#!/usr/bin/env bash
# Builds libFLAC.dll from Debian's FLAC source package with the same
# MinGW-w64 toolchain as oskavi.exe, for testing FLAC input under Wine.
#   tools/build_libflac_windows.sh i686|x86_64 OUT_DIR
# Needs a deb-src entry for apt-get source (added when run as root) and
# leaves OUT_DIR/libFLAC.dll. The C runtime is linked in, as for oskavi.exe.
set -euo pipefail
arch=${1:?usage: build_libflac_windows.sh i686|x86_64 OUT_DIR}
out=${2:?usage: build_libflac_windows.sh i686|x86_64 OUT_DIR}
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
work="$out/libflac-build"
mkdir -p "$work"

if [ ! -d "$work/src" ]; then
    if ! compgen -G "$work/flac_*.dsc" > /dev/null; then
        if [ "$(id -u)" -eq 0 ] && ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
            printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
                > /etc/apt/sources.list.d/debian-src.sources
            apt-get update -q || true
        fi
        (cd "$work" && apt-get source -q --download-only flac)
    fi
    (cd "$work" && dpkg-source -x flac_*.dsc src > /dev/null)
fi

cmake -S "$work/src" -B "$work/build-$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" \
    -DBUILD_SHARED_LIBS=ON -DBUILD_CXXLIBS=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF \
    -DBUILD_TESTING=OFF -DBUILD_DOCS=OFF -DINSTALL_MANPAGES=OFF -DWITH_OGG=OFF \
    -DWITH_STACK_PROTECTOR=OFF -DWITH_FORTIFY_SOURCE=OFF \
    -DCMAKE_SHARED_LINKER_FLAGS="-static-libgcc" > "$work/configure-$arch.log"
cmake --build "$work/build-$arch" --target FLAC --parallel 2 > "$work/build-$arch.log"
dll=$(find "$work/build-$arch" -name 'libFLAC*.dll' | head -n 1)
cp "$dll" "$out/libFLAC.dll"
echo "$out/libFLAC.dll"
