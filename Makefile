# Entry points: `make test` (everything CI runs) and `make demo`.
PYTHON ?= /usr/bin/python3
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
TSAN_BUILD ?= build-tsan
JOBS ?= 2
BENCH_BUILD ?= $(BUILD)-release

export PYTHON

.PHONY: all deps configure build test test-cpp test-python tsan demo bench clean

all: build

deps:
	scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DPython_EXECUTABLE=$(PYTHON)

configure: $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: deps
	$(MAKE) build
	$(MAKE) test-cpp
	$(MAKE) test-python

test-cpp:
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

test-python:
	ORU_BUILD_DIR=$(abspath $(BUILD)) $(PYTHON) -m pytest -q python/tests

# The C++ tests once more, built with ThreadSanitizer.
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DORU_SANITIZE_THREAD=ON \
		-DPython_EXECUTABLE=$(PYTHON)
	cmake --build $(TSAN_BUILD) -j$(JOBS)
	cd $(TSAN_BUILD) && ctest --output-on-failure -j$(JOBS)

demo: deps
	$(MAKE) build
	$(BUILD)/examples/oru_list_cameras

# Release build; runs every benchmark executable of bench/.
bench: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DPython_EXECUTABLE=$(PYTHON)
	cmake --build $(BENCH_BUILD) -j$(JOBS)
	for b in $(BENCH_BUILD)/bench/*; do \
		if [ -f "$$b" ] && [ -x "$$b" ]; then "$$b" || exit 1; fi; \
	done
	$(BENCH_BUILD)/sim/oru-sim --camera 0x1001 -- $(BENCH_BUILD)/bench/sim_bench

clean:
	rm -rf $(BUILD) $(TSAN_BUILD) $(BENCH_BUILD)
