#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets into DIR/<target>/, from the
# built make_test_signal and oskavi of BUILD (any build of this repository)
# and the flac and ffmpeg tools.
#   fuzz/make_corpus.sh BUILD DIR
set -euo pipefail

build="$1"
out="$2"
signal="$build/make_test_signal"
oskavi="$build/oskavi"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

mkdir -p "$out"/{fuzz_wave_reader,fuzz_streaming_reader,fuzz_flac_input,fuzz_verify,fuzz_command_line,fuzz_frame_encoder}

# WAVE seeds: every sample format and layout, short enough to mutate quickly.
n=0
for format in "1 48000 16" "2 44100 16" "2 48000 24" "2 96000 32" "6 48000 16" "8 48000 24" "3 48000 16"; do
    read -r channels rate bits <<<"$format"
    "$signal" "$work/s$n.wav" 0.01 "$channels" "$rate" "$bits" >/dev/null
    n=$((n + 1))
done
"$signal" "$work/float.wav" 0.01 2 48000 32 >/dev/null
ffmpeg -v error -y -i "$work/s1.wav" -rf64 always "$work/rf64.wav"
ffmpeg -v error -y -i "$work/s4.wav" -c:a pcm_s24le "$work/ext.wav"
for f in "$work"/*.wav; do
    cp "$f" "$out/fuzz_wave_reader/"
    # The streaming target reads two block-size bytes first.
    { printf '\x06\x00'; cat "$f"; } >"$out/fuzz_streaming_reader/$(basename "$f")"
done

# FLAC seeds at several depths and layouts.
flac -s -f "$work/s1.wav" -o "$out/fuzz_flac_input/stereo16.flac"
flac -s -f "$work/s2.wav" -o "$out/fuzz_flac_input/stereo24.flac" 2>/dev/null
flac -s -f --no-padding "$work/s0.wav" -o "$out/fuzz_flac_input/mono_nopad.flac"
flac -s -f --channel-map=none "$work/s4.wav" -o "$out/fuzz_flac_input/surround.flac"

# AC-3 seeds written by oskavi itself: stereo, mono and 5.1 at three rates.
"$signal" "$work/long2.wav" 0.1 2 48000 16 >/dev/null
"$signal" "$work/long1.wav" 0.1 1 48000 16 >/dev/null
"$signal" "$work/long6.wav" 0.1 6 48000 16 >/dev/null
"$oskavi" "$work/long2.wav" "$out/fuzz_verify/stereo448.ac3" --quiet
"$oskavi" "$work/long1.wav" "$out/fuzz_verify/mono96.ac3" --quiet --bitrate 96
"$oskavi" "$work/long6.wav" "$out/fuzz_verify/surround640.ac3" --quiet --bitrate 640
"$oskavi" "$work/long2.wav" "$out/fuzz_verify/stereo192.ac3" --quiet --bitrate 192

# Command lines: arguments separated by NUL bytes.
args() { printf '%s\0' "$@" | head -c -1; }
args in.wav out.ac3 >"$out/fuzz_command_line/plain"
args --verify x.ac3 >"$out/fuzz_command_line/verify"
args --features >"$out/fuzz_command_line/features"
args in.wav out.ac3 --bitrate 192 --dialnorm -20 --surround-mix-gain -6 --no-peak-guard >"$out/fuzz_command_line/numbers"
args in.wav out.ac3 --bass-management --crossover 100 --lfe-gain -3 --thx >"$out/fuzz_command_line/bass"
args in.wav out.ac3 --matrix-decode --rear-delay 12.5 --no-coupling --quiet --preflight >"$out/fuzz_command_line/matrix"
args in.wav out.ac3 --generate-lfe --force-generate-lfe --no-streaming --spectral-analysis --no-block-switching \
    --legacy-transient-detector --no-exponent-adaptation --no-coupling-coordinate-reuse >"$out/fuzz_command_line/switches"

# Frame-encoder windows: settings bytes, then generator bytes (music-like
# 16-bit values from a WAVE file's data, and runs of the special kinds).
for rate in 0 5 8 15 18; do
    for layout in 0 1 2; do
        { printf "\\x$(printf %02x "$rate")\\x$(printf %02x "$layout")\\x1f\\x00"; tail -c 4000 "$work/s1.wav"; } \
            >"$out/fuzz_frame_encoder/music_${rate}_${layout}"
    done
done
{ printf '\x0f\x01\x7f\x00'; printf '\x80\x00\x00\xa0\x00\x00\xc4\x00\x00\xe6\x00\x00'; } >"$out/fuzz_frame_encoder/specials"
{ printf '\x12\x02\x1f\x00'; printf '\xe0\x00\x00'; } >"$out/fuzz_frame_encoder/square"
