#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a normal optimised build in
# build/, then an AddressSanitizer + UndefinedBehaviorSanitizer build in
# build-asan/. Stops at the first failure.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="${OSKAVI_JOBS:-2}"

run_suite() {
    local dir="$1"
    shift
    cmake -S "$root" -B "$dir" -G Ninja "$@"
    cmake --build "$dir" --parallel "$jobs"
    ctest --test-dir "$dir" --output-on-failure --no-tests=error --parallel "$jobs"
}

start=$SECONDS
run_suite "$root/build" -DCMAKE_BUILD_TYPE=Release -DOSKAVI_BUILD_TESTS=ON
run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSKAVI_SANITIZE=ON -DOSKAVI_BUILD_TESTS=ON -DOSKAVI_BUILD_BENCH=OFF
echo "tools/test.sh: all tests passed in $((SECONDS - start)) s"
