# The two ways in: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps build run test bench clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@$(BUILD)/src/merlow

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Benchmarks: run on purpose, not by the tests.
bench: build
	@cmake --build $(BUILD) -j $(JOBS) --target progress_bench
	@bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD)
