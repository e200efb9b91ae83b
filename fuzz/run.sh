#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a
# bounded time on its seed corpus. Fails on any crash, leak, timeout, memory
# blow-up or sanitizer report. Prints each target's final executions and
# coverage.
#   OSKAVI_FUZZ_SECONDS  seconds per target (default 45)
#   OSKAVI_JOBS          build parallelism (default 2)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-fuzz"
seconds="${OSKAVI_FUZZ_SECONDS:-45}"
jobs="${OSKAVI_JOBS:-2}"
targets=(fuzz_wave_reader fuzz_streaming_reader fuzz_flac_input fuzz_verify fuzz_command_line fuzz_frame_encoder)

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DOSKAVI_BUILD_FUZZ=ON -DOSKAVI_BUILD_TESTS=OFF -DOSKAVI_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$jobs"

seeds="$build/seeds"
rm -rf "$seeds"
"$root/fuzz/make_corpus.sh" "$build" "$seeds"

summary=()
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    artifacts="$build/artifacts/$target/"
    mkdir -p "$corpus" "$artifacts"
    log="$build/$target.log"
    echo "fuzz/run.sh: $target for $seconds s"
    # New inputs go to the first directory; the seeds are read only.
    if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 \
        -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" "$seeds/$target" >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "fuzz/run.sh: $target FAILED (log: $log, reproducer in $artifacts)"
        exit 1
    fi
    runs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')"
    speed="$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')"
    cov="$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1 || echo 'cov: ?')"
    summary+=("$target: $runs runs, $speed exec/s, $cov")
done
printf 'fuzz/run.sh: %s\n' "${summary[@]}"
echo "fuzz/run.sh: no crash, leak, timeout or sanitizer report"
