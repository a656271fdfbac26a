#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets with clang and runs each for the seconds
# given, from the generated MP3s and the kept regression inputs. A crash
# fails the run and leaves its input in the build folder.
set -euo pipefail

seconds=${1:?usage: scripts/fuzz.sh SECONDS [BUILD_DIR]}
build=${2:-build-fuzz}
root=$(cd "$(dirname "$0")/.." && pwd)

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMERLOW_FUZZ=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target checkmp3header_fuzz decoder_fuzz
"$root/scripts/make-test-mp3s.sh" "$build/seeds"

targets=(checkmp3header decoder)

# The fuzzers run side by side, each on a core; each one's lines are
# printed together once both are done.
fuzz() {
    local target=$1 corpus="$build/corpus/$1"
    mkdir -p "$corpus"
    "$build/tests/fuzz/${target}_fuzz" -max_total_time="$seconds" -max_len=70000 -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/crash-$target-" \
        "$corpus" "$build/seeds" "$root/tests/fuzz/regressions/$target" 2>&1 |
        grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE|==[0-9]+==ERROR|SUMMARY|INFO: seed corpus)' \
            > "$build/fuzz-$target.log" || true
}
echo "fuzzing ${targets[*]} for $seconds s"
for target in "${targets[@]}"; do
    fuzz "$target" &
done
wait

# grep hides a fuzzer's own exit status: a crash leaves an artifact.
found=0
for target in "${targets[@]}"; do
    echo "$target:"
    cat "$build/fuzz-$target.log"
    if compgen -G "$build/crash-$target-*" >/dev/null; then
        echo "fuzzing $target found a crash: $(ls "$build"/crash-"$target"-*)"
        found=1
    fi
done
exit "$found"
