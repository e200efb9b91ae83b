#!/usr/bin/env bash
# Builds oskavi (Release, in build-release/) and runs the main job: encodes
# the given input, or a generated 5-second music-like 48 kHz stereo demo when
# no file is given, then verifies the AC-3 stream it wrote.
#
#   tools/demo.sh [input.wav|input.flac [output.ac3 [options...]]]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSKAVI_BUILD_TESTS=OFF -DOSKAVI_BUILD_BENCH=OFF
cmake --build "$build"

input="${1:-}"
if [ -z "$input" ]; then
    input="$build/demo.wav"
    "$build/make_test_signal" "$input" 5 2 48000 16
fi
output="${2:-${input%.*}.ac3}"
[ $# -gt 2 ] && shift 2 || set --
"$build/oskavi" "$input" "$output" "$@"
"$build/oskavi" --verify "$output"
