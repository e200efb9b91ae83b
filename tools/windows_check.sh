#!/usr/bin/env bash
# Runs the golden set (tests/golden/cases.txt) through the Linux program and
# the Windows program (under Wine) and checks that both write byte-identical
# AC-3 files, exit with the same status and print the same console text
# (standard output without the progress lines, which carry elapsed times, and
# standard error). Then checks Windows-only behaviour: UTF-8 file names and
# the libFLAC search messages.
#
#   tools/windows_check.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
#
# LINUX_BUILD_DIR holds oskavi and make_test_signal, WINDOWS_BUILD_DIR holds
# oskavi.exe and, if FLAC input is to be compared, libFLAC.dll beside it.
# Needs wine (WINEPREFIX/WINEDEBUG are taken from the environment), flac and sox.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
linux_build="$(cd "${1:?usage: windows_check.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR}" && pwd)"
windows_build="$(cd "${2:?usage: windows_check.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR}" && pwd)"
export WINEDEBUG="${WINEDEBUG:--all}"
wine="${WINE:-wine}"

work="$(mktemp -d "${TMPDIR:-/tmp}/oskavi-windows-check.XXXXXX")"
trap 'rm -rf "$work"' EXIT
# One Wine server for all runs instead of one started and stopped per run:
# it stays up until ten seconds after the last program exits.
wineserver -p10 2> /dev/null || true  # an already running server is kept
# Both programs see the same relative names, so paths in messages agree.
cd "$work"
cp "$windows_build/oskavi.exe" .
flac_dll=no
if [ -f "$windows_build/libFLAC.dll" ]; then
    cp "$windows_build/libFLAC.dll" .
    flac_dll=yes
fi

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# make_input KIND:seconds:channels:rate:bits[:correlation] -> file name
make_input() {
    local kind seconds channels rate bits correlation name
    IFS=: read -r kind seconds channels rate bits correlation <<< "$1"
    name="$(echo "$1" | tr : _)"
    case "$kind" in
        wav) [ -f "$name.wav" ] || "$linux_build/make_test_signal" "$name.wav" "$seconds" "$channels" "$rate" "$bits" ${correlation:+"$correlation"} ;;
        zero) [ -f "$name.wav" ] || sox -n -r "$rate" -c "$channels" -b "$bits" "$name.wav" trim 0 "$seconds" ;;
        flac)
            if [ ! -f "$name.flac" ]; then
                "$linux_build/make_test_signal" "$name.wav" "$seconds" "$channels" "$rate" "$bits" ${correlation:+"$correlation"}
                flac -s -f --channel-map=none -o "$name.flac" "$name.wav"
            fi
            echo "$name.flac"; return ;;
    esac
    echo "$name.wav"
}

# console FILE_PREFIX: standard output without progress lines, then standard error
console() { { grep -av $'\r' "$1.out" || true; echo "--"; cat "$1.err"; } > "$1.console"; }

# run_both NAME ENV_ASSIGNMENTS ARGS...: runs both programs, writing NAME.linux.* and NAME.windows.*
run_both() {
    local name="$1" assignments="$2"
    shift 2
    local status_linux=0 status_windows=0
    env $assignments "$linux_build/oskavi" "${@//@OUT@/$name.linux.ac3}" > "$name.linux.out" 2> "$name.linux.err" || status_linux=$?
    env $assignments "$wine" oskavi.exe "${@//@OUT@/$name.windows.ac3}" > "$name.windows.out" 2> "$name.windows.err" || status_windows=$?
    console "$name.linux"
    console "$name.windows"
    echo "$status_linux" > "$name.linux.status"
    echo "$status_windows" > "$name.windows.status"
}

compare() {
    local name="$1"
    local status_linux status_windows
    status_linux=$(cat "$name.linux.status")
    status_windows=$(cat "$name.windows.status")
    [ "$status_linux" = "$status_windows" ] || fail "$name: exit status $status_linux on Linux, $status_windows on Windows"
    if [ -f "$name.linux.ac3" ] || [ -f "$name.windows.ac3" ]; then
        cmp -s "$name.linux.ac3" "$name.windows.ac3" || fail "$name: AC-3 output differs"
    fi
    cmp -s "$name.linux.console" "$name.windows.console" || {
        fail "$name: console text differs"
        diff "$name.linux.console" "$name.windows.console" | head -n 10 || true
    }
}

echo "Starting Wine..."
"$wine" oskavi.exe --features > /dev/null 2>&1 || true

compared=0
identical_files=0
while IFS='|' read -r name input options environment; do
    name="$(echo "$name" | xargs)"
    case "$name" in ''|'#'*) continue ;; esac
    input="$(echo "$input" | xargs)"
    if [[ "$input" == flac:* ]] && [ "$flac_dll" = no ]; then
        echo "skip  $name (no libFLAC.dll beside oskavi.exe)"
        continue
    fi
    in_file="$(make_input "$input")"
    # shellcheck disable=SC2086  # options and assignments are word lists
    run_both "$name" "$environment" "$in_file" @OUT@ $options
    before=$failures
    compare "$name"
    compared=$((compared + 1))
    if [ "$failures" = "$before" ]; then
        [ -f "$name.linux.ac3" ] && identical_files=$((identical_files + 1))
        echo "same  $name"
    fi
done < "$root/tests/golden/cases.txt"
echo "golden set: $compared cases compared, $identical_files identical AC-3 files"

# Command-line behaviour outside the golden set: usage, features, verify,
# errors, and a file name outside ASCII (UTF-8 here, UTF-16 on Windows).
stereo="$(make_input wav:1:2:48000:16)"
utf8_name=$'Gr\xc3\xbc\xc3\x9fe-\xe9\x9f\xb3.wav'
cp "$stereo" "$utf8_name"
run_both usage "" ; compare usage
run_both missing "" absent.wav @OUT@; compare missing
run_both badrate "" "$stereo" @OUT@ --bitrate 100; compare badrate
run_both unicode "" "$utf8_name" @OUT@; compare unicode
run_both verify "" --verify unicode.linux.ac3; compare verify
run_both verify-bad "" --verify "$stereo"; compare verify-bad
if [ "$flac_dll" = yes ]; then
    run_both features "" --features; compare features
    # libFLAC opens its file itself; it takes UTF-8 names on Windows too.
    flac -s -f -o "${utf8_name%.wav}.flac" "$stereo"
    run_both unicode-flac "" "${utf8_name%.wav}.flac" @OUT@; compare unicode-flac
else
    run_both features "" --features
    grep -q '^FLAC input: unavailable (place libFLAC.dll beside oskavi.exe)$' features.windows.out ||
        fail "features: Windows feature text without libFLAC.dll"
    flac -s -f -o tone.flac "$stereo"
    status=0
    "$wine" oskavi.exe tone.flac tone.ac3 > flac.out 2> flac.err || status=$?
    [ "$status" = 2 ] || fail "FLAC without libFLAC.dll: exit status $status"
    grep -qx 'Error: FLAC input requires libFLAC.dll at runtime: libFLAC runtime DLL was not found beside oskavi.exe or in the Windows DLL search path' flac.err ||
        fail "FLAC without libFLAC.dll: message: $(cat flac.err)"
fi

if [ "$failures" -ne 0 ]; then
    echo "windows_check: $failures failure(s)"
    exit 1
fi
echo "windows_check: all checks passed"
