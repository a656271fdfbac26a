# SPDX-License-Identifier: GPL-3.0-or-later
# The two ways in: `make run` and `make test`. Both install what is missing first.
# `make package` builds the Debian package that installs the player, as
# Debian builds it, from a copy of the tree: $(BUILD)/merlow_0.01_amd64.deb and
# its .changes.
BUILD ?= build
JOBS ?= $(shell nproc)
# Most tests wait on what is heard and cost little CPU: twice as many as
# there are cores run at once (the package's build beside them, at idle
# priority).
TEST_JOBS ?= $(shell echo $$(( $$(nproc) * 2 )))
CONFIGURE = cmake -S . -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
SUPPRESSIONS = $(CURDIR)/tests/sanitizers

.PHONY: all deps build run package test test-plain test-asan test-tsan test-fuzz fuzz bench clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@$(CONFIGURE) -B $(BUILD)
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@$(BUILD)/src/merlow

package: deps
	@scripts/build-package.sh $(BUILD)

FUZZ_SECONDS ?= 600

# The fades' click-free edges are a real-time thread's few milliseconds, and
# a fresh engine's first sound and a pause through PipeWire from the window are
# heard within a few tens: the instrumented build misses them on a busy
# machine, so they are timed in the plain run only, and so is the check of
# each file's format, which races the file before's last writes when the
# engine is slow.
ASAN_UNTIMED = ClickFreeTest|SoundServerTest.ADroppedFileIsHeardPromptlyFreshOrJustStopped|PipeWireDesktop.PlaysPausesAndStopsThroughPipeWireEachHeardWithin30Ms|EngineLogicTest.EachFileReachesTheOutputInItsOwnFormat

# Every test, then again under AddressSanitizer and UndefinedBehaviorSanitizer,
# the engine's under ThreadSanitizer, and each fuzzer for a bounded time; any
# report fails the run.
test: test-plain test-asan test-tsan test-fuzz

test-plain: build
	@cd $(BUILD) && ctest --output-on-failure -j $(TEST_JOBS)

test-asan: deps
	@$(CONFIGURE) -B $(BUILD)-asan -DMERLOW_SANITIZE=address,undefined
	@cmake --build $(BUILD)-asan -j $(JOBS)
	@cd $(BUILD)-asan && \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
	  LSAN_OPTIONS=suppressions=$(SUPPRESSIONS)/lsan.supp \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(TEST_JOBS) -E '$(ASAN_UNTIMED)'

# The suites where threads meet: the engine's and the output's, on real
# servers, and the window's on the real engine, as many at once as in the
# other runs: they wait on what is heard more than they compute, slower as
# the instrumented engine is. The targets of a few
# milliseconds (a fresh engine's first sound, a large file's, the fades'
# click-free edges) are timed in the plain run, and but for the fades in the
# AddressSanitizer run,
# and so is the check of each file's format, which races the file before's
# last writes when the engine is slow.
TSAN_TESTS = engine_test output_test soundserver_test window_test filecheck_test
TSAN_UNTIMED = ClickFreeTest|SoundServerTest.ADroppedFileIsHeardPromptlyFreshOrJustStopped|EngineTest.ALargeFileWithoutAHeaderIsHeardAtOnceFreshOrReplacingAnother|EngineLogicTest.EachFileReachesTheOutputInItsOwnFormat
test-tsan: deps
	@$(CONFIGURE) -B $(BUILD)-tsan -DMERLOW_SANITIZE=thread
	@cmake --build $(BUILD)-tsan -j $(JOBS) --target $(TSAN_TESTS)
	@cd $(BUILD)-tsan && \
	  TSAN_OPTIONS=suppressions=$(SUPPRESSIONS)/tsan.supp:ignore_noninstrumented_modules=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(TEST_JOBS) -L '^($(subst $(eval) ,|,$(TSAN_TESTS)))$$' -E '$(TSAN_UNTIMED)'

test-fuzz: deps
	@scripts/fuzz.sh 25 $(BUILD)-fuzz

# The fuzzers for as long as asked: make fuzz FUZZ_SECONDS=3600
fuzz: deps
	@scripts/fuzz.sh $(FUZZ_SECONDS) $(BUILD)-fuzz

# Benchmarks: run on purpose, not by the tests.
BENCH_SECONDS ?= 30
BENCH_RUNS ?= 3
bench: build
	@scripts/install-deps.sh bench
	@cmake --build $(BUILD) -j $(JOBS) --target progress_bench desktop_bench wakeups_bench decode_bench position_bench
	@bench/run.sh $(BUILD) $(BENCH_SECONDS) $(BENCH_RUNS)

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz
