#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the benchmarks and writes their tables into docs/performance.md,
# between its markers, with the machine they ran on.
# Usage: bench/run.sh BUILD_DIR [SECONDS] [RUNS]
set -euo pipefail

build=${1:?usage: bench/run.sh BUILD_DIR [SECONDS] [RUNS]}
seconds=${2:-30}
runs=${3:-3}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
xvfb_pid=
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Three minutes at 128 kbps and the same tone VBR, as a user's files would be;
# and a file at another pitch, told apart by it when it replaces the first.
second_hz=523.25
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 180 sine 440 gain -6
lame --quiet -b 128 "$work/tone.wav" "$work/cbr128.mp3"
lame --quiet -V 2 "$work/tone.wav" "$work/vbr.mp3"
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 30 sine "$second_hz" gain -6
lame --quiet -b 128 "$work/tone.wav" "$work/second.mp3"
rm "$work/tone.wav"

exec 3> "$work/display"
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1024x768x24 &
xvfb_pid=$!
exec 3>&-
until [ -s "$work/display" ]; do sleep 0.05; done

version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo "?"; }
report=$work/report.md
{
    echo "Run $(date -u +%Y-%m-%d) with \`make bench\` ($seconds s a measure, $runs runs; medians, range in brackets)."
    echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores,"
    echo "$(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r); Qt $(version libqt6core6),"
    echo "libmpg123 $(version libmpg123-0), libpulse0 $(version libpulse0), PipeWire $(version pipewire),"
    echo "PulseAudio $(version pulseaudio), mpg123 $(version mpg123), mpv $(version mpv)."
    echo "A virtual display (Xvfb), no window manager."
    echo
    echo "## Playback, idle, start and commands"
    echo
    echo "Through a PulseAudio null sink the bench starts itself, recorded by parec so that it paces."
    echo
    "$build/bench/desktop_bench" "$work/cbr128.mp3" "$work/second.mp3" "$second_hz" "$seconds" "$runs"
    echo
    echo "## Nothing to see: paused, stopped, hidden, idle"
    echo
    echo "The program as a user runs it, through the bench's own PulseAudio null sink; the window unmapped as a"
    echo "window manager unmaps it, and iconified under openbox. The window's thread is the process's first."
    echo
    "$build/bench/wakeups_bench" "$work/cbr128.mp3" "$seconds" "$runs"
    echo
    echo "## The progress display alone"
    echo
    echo "The window in-process, playing into a PulseAudio null sink of its own: its bar repaints and CPU, idle and playing."
    echo
    DISPLAY=":$(cat "$work/display")" "$build/bench/progress_bench" "$work/cbr128.mp3" "$seconds" 2>/dev/null
    echo
    echo "## Decoding speed"
    echo
    echo "The engine's decoder (open, length, decode to nowhere) against \`mpg123 -t\`, 3-minute files."
    echo
    "$build/bench/decode_bench" 5 "$work/cbr128.mp3" "$work/vbr.mp3"
    echo
    echo "## Position error"
    echo
    echo "The engine in-process against what reaches a PulseAudio null sink, recorded by parec:"
    echo "playing, paused, resumed, and after a second file replaced the first."
    echo
    "$build/bench/position_bench" "$work/cbr128.mp3" "$work/second.mp3" "$second_hz" "$runs" 2>/dev/null
} > "$report"

cat "$report"
doc=$root/docs/performance.md
if [ -f "$doc" ] && grep -q '^<!-- bench:begin -->$' "$doc"; then
    {
        sed '/^<!-- bench:begin -->$/q' "$doc"
        cat "$report"
        sed -n '/^<!-- bench:end -->$/,$p' "$doc"
    } > "$work/performance.md"
else
    { echo "# Performance"; echo; echo "<!-- bench:begin -->"; cat "$report"; echo "<!-- bench:end -->"; } > "$work/performance.md"
fi
cp "$work/performance.md" "$doc"
echo "Written to docs/performance.md"
