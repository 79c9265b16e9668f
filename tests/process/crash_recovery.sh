#!/usr/bin/env bash
# A real varnel, killed with SIGKILL after six control points were placed with the mouse, offers
# them on its next start and, once accepted, holds the same points and geo-coding.
# Usage: crash_recovery.sh VARNEL VARNEL_CLI MAP.jpg   (needs Xvfb and xdotool)
set -euo pipefail
varnel=$1 cli=$2 map=$3

for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "crash_recovery: $tool is not installed (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# A private X server, and private settings and application data for the program.
exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -1 "$work/display")
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=xcb
recovery_dir=$work/data/varnel/recovery
# The clicks below are placed for a map filling the window: the control-point table stays hidden.
mkdir -p "$work/config/varnel"
printf '[ControlPoints]\nhidden=true\n' >"$work/config/varnel/varnel.conf"

fail() {
    echo "crash_recovery: $*" >&2
    exit 1
}

# Waits for a visible window whose name contains $1, prints its id.
window() {
    timeout 60 xdotool search --sync --onlyvisible --name "$1" | head -1
}

# The first run: six points clicked on the map, each given coordinates that are a linear
# function of where it was clicked, so that the sixth point brings an accepted fit.
"$varnel" "$map" >"$work/run1.log" 2>&1 &
pids+=($!)
first=$!
win=$(window "$(basename "$map")") || fail "the first window did not appear"
sleep 1
xdotool mousemove --window "$win" 163 34 click 1   # Set points on the toolbar
sleep 0.5
for at in "150 150" "700 160" "420 330" "160 560" "720 540" "300 450"; do
    set -- $at
    xdotool mousemove --window "$win" "$1" "$2" click 1
    sleep 1
    xdotool type --delay 30 "$(awk "BEGIN { printf \"%.3f\", 50 - $2 / 1000 }")"
    xdotool key Tab
    xdotool type --delay 30 "$(awk "BEGIN { printf \"%.3f\", 8 + $1 / 1000 }")"
    xdotool key Return
    sleep 1
done
xdotool key Return   # the accuracy of the fit
sleep 3              # edits are written within two seconds

files=("$recovery_dir"/*.vrc)
[ -e "${files[0]}" ] || fail "no recovery file was written"
"$cli" recovery "${files[0]}" >"$work/before.json" || fail "the recovery file does not read"
grep -q '"geocoded": 1' "$work/before.json" || fail "the first run's map is not geo-coded: $(cat "$work/before.json")"
[ "$(grep -o '\], \[' "$work/before.json" | wc -l)" -eq 5 ] || fail "not six points: $(cat "$work/before.json")"

# A run killed before it had any work leaves only its lock; the next start clears it away.
"$varnel" >"$work/idle.log" 2>&1 &
pids+=($!)
idle=$!
timeout 60 xdotool search --sync --onlyvisible --pid "$idle" >/dev/null || fail "the idle run's window did not appear"
idle_lock=$(ls "$recovery_dir"/"$idle"-*.lock 2>/dev/null | head -1)
[ -n "$idle_lock" ] || fail "the idle run holds no lock"
kill -9 "$idle"
wait "$idle" 2>/dev/null || true

kill -9 "$first"
wait "$first" 2>/dev/null || true

# The second run: the offer comes up at start; Yes is the default button.
"$varnel" >"$work/run2.log" 2>&1 &
pids+=($!)
current=$!
window "Varnel" >/dev/null || fail "the second window did not appear"
sleep 4
xdotool key Return
sleep 1   # the recovered, unsaved work is written to the second run's own file at once

after=$(ls "$recovery_dir"/*.vrc 2>/dev/null | grep -v "$(basename "${files[0]}")" || true)
[ -n "$after" ] || fail "the second run holds no recovered work (its recovery file is missing)"
[ ! -e "${files[0]}" ] || fail "the first run's recovery file was not taken over"
"$cli" recovery "$after" >"$work/after.json" || fail "the second run's recovery file does not read"
[ ! -e "$idle_lock" ] || fail "the lock of the run killed without work was left behind"

# Same points, coefficients and geo-coding; the rest (time, window) may differ.
model() { sed -e 's/.*"geocoded": \([01]\).*"coefficients": \(\[[^]]*\]\).*"points": \(.*\)}$/\1 \2 \3/' "$1"; }
[ "$(model "$work/before.json")" = "$(model "$work/after.json")" ] ||
    fail "recovered work differs: $(model "$work/before.json") / $(model "$work/after.json")"

# Told to end, a run asks nothing, keeps its unsaved work for the next start and leaves no lock;
# the next start offers it again and, once it is recovered, keeps it again.
for signal in TERM HUP; do
    kept=$(ls "$recovery_dir"/"$current"-*.vrc) || fail "run $current keeps no work before SIG$signal"
    kill -"$signal" "$current"
    wait "$current" && status=0 || status=$?
    [ "$status" -eq $((128 + $(kill -l "$signal"))) ] && [ -e "$kept" ] &&
        ! ls "$recovery_dir"/"$current"-*.lock 2>/dev/null || fail "after SIG$signal: $status, $(ls -A "$recovery_dir")"
    "$varnel" >"$work/after-$signal.log" 2>&1 &
    pids+=($!) current=$!
    timeout 60 xdotool search --sync --onlyvisible --pid "$current" >/dev/null || fail "no window after SIG$signal"
    sleep 4; xdotool key Return; sleep 1   # Yes to the offer: the work is kept again at once
    "$cli" recovery "$recovery_dir"/"$current"-*.vrc >"$work/again.json" && [ "$(model "$work/again.json")" = \
        "$(model "$work/before.json")" ] || fail "the work kept at SIG$signal is not back as it was"
done
echo "crash_recovery: six points and the geo-coding came back"
