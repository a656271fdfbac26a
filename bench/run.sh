#!/usr/bin/env bash
# Runs the benchmarks on a virtual display with SDL's disk driver pacing the
# audio in real time. Usage: bench/run.sh BUILD_DIR [SECONDS]
set -euo pipefail

build=${1:?usage: bench/run.sh BUILD_DIR [SECONDS]}
seconds=${2:-60}
work=$(mktemp -d)
xvfb_pid=
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth "$seconds" sine 440 gain -6
lame --quiet -b 128 "$work/tone.wav" "$work/tone.mp3"

exec 3> "$work/display"
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1024x768x24 &
xvfb_pid=$!
exec 3>&-
until [ -s "$work/display" ]; do sleep 0.05; done

echo "progress display, $seconds s of playback ($(nproc) cores, $(uname -r)):"
DISPLAY=":$(cat "$work/display")" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null \
    "$build/bench/progress_bench" "$work/tone.mp3" "$seconds"
