#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Synthesises the test MP3 files into the folder given: pure tones, each at its
# own pitch so a test can tell which file is heard.
set -euo pipefail

out=${1:?usage: make-test-mp3s.sh OUTDIR}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

tone() { # rate channels seconds frequency wav
    sox -n -r "$1" -c "$2" -b 16 "$5" synth "$3" sine "$4" gain -6
}

tone 44100 2 4 440 "$work/a440.wav"
tone 44100 2 4 523.25 "$work/c523.wav"
tone 48000 1 1.5 660 "$work/e660.wav"
tone 44100 2 2 330 "$work/e330.wav"
tone 44100 2 10 440 "$work/a440long.wav"

# CBR 128 kbps stereo, with and without the Info header that gives its length.
lame --quiet -b 128 "$work/a440.wav" "$out/cbr44_stereo.mp3"
lame --quiet -b 128 -t "$work/a440.wav" "$out/cbr44_noheader.mp3"
lame --quiet -b 128 "$work/a440long.wav" "$out/cbr44_long.mp3"
# VBR with its Xing header, and without it (its length needs a scan).
lame --quiet -V 2 "$work/c523.wav" "$out/vbr44.mp3"
lame --quiet -V 2 -t "$work/c523.wav" "$out/vbr44_noheader.mp3"
lame --quiet -b 64 -m m "$work/e660.wav" "$out/mono48.mp3"
# Joined from parts in two formats: 44.1 kHz stereo, then 48 kHz mono.
lame --quiet -b 64 -m m -t "$work/e660.wav" "$work/mono48_noheader.mp3"
cat "$out/cbr44_noheader.mp3" "$work/mono48_noheader.mp3" > "$out/joined44_48.mp3"
lame --quiet -b 128 --id3v2-only --tt "Test tone" --ta "Merlow" "$work/e330.wav" "$out/id3v2.mp3"
# A version 1 tag at the end only: the first byte is still 0xFF.
lame --quiet -b 128 --id3v1-only --tt "Tone at the end" --ta "Merlow" "$work/e330.wav" "$out/id3v1.mp3"
# Cut inside a frame after about a second (a 128 kbps frame is 417 bytes).
head -c $((417 * 40 + 200)) "$out/cbr44_stereo.mp3" > "$out/truncated.mp3"
# Starts with 0xFF but is not MPEG audio.
{ printf '\xff\xd8\xff\xe0'; head -c 4000 /dev/zero | tr '\0' 'J'; } > "$out/not_mpeg.mp3"
