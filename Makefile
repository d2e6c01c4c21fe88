# Entry points: `make test` (everything CI runs) and `make demo`.
PYTHON ?= /usr/bin/python3
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
TSAN_BUILD ?= build-tsan
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = settings_xml dark_bitmap hot_pixel_map frame_markers fx2_image
JOBS ?= 2
PREFIX ?= /usr/local
# The simulated camera of the demo: the representative model.
DEMO_CAMERA ?= oru6200mc-pro
OUT ?= out
BENCH_BUILD ?= $(BUILD)-release
# Warnings are errors in every build made here (and so in CI).
WERROR ?= ON
CMAKE_FLAGS = -DORU_WERROR=$(WERROR) -DPython_EXECUTABLE=$(PYTHON)

export PYTHON

.PHONY: all deps configure build test test-cpp test-python tsan asan fuzz-build fuzz fuzz-regression \
	demo install bench clean

all: build

deps:
	scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

configure: $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: deps
	$(MAKE) build
	$(MAKE) test-cpp
	$(MAKE) test-python

test-cpp:
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# pytest starts itself again under $(BUILD)/sim/oru-sim with a simulated camera.
test-python:
	ORU_BUILD_DIR=$(abspath $(BUILD)) $(PYTHON) -m pytest -q python/tests

# The C++ tests once more, built with ThreadSanitizer.
# The suites where threads meet (worker threads, ring, capture lifecycle,
# registry and flat API, auto controls, cooler) under ThreadSanitizer. The USB
# emulation underneath is not instrumented: tests/tsan.supp keeps its
# hand-overs out of the reports. Tests labelled "timing" are left out: under
# the sanitizer's slowdown the simulated camera's frames outrun the host and
# those tests see the drops they are meant to rule out.
TSAN_TESTS = ThreadCtrl|RunningRing|CirBuf|CameraCapture|CameraCooler|CameraRegistryTest|AutoControl|FlatApiTest
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DORU_SANITIZE_THREAD=ON \
		$(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j$(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="suppressions=$(abspath tests/tsan.supp) detect_deadlocks=0 history_size=7" \
		ctest --output-on-failure -j$(JOBS) -LE timing -R '^($(TSAN_TESTS))\.'

# Every C++ test and the Python tests, built with AddressSanitizer and
# UndefinedBehaviorSanitizer (any undefined behaviour stops the test), less
# the tests labelled "timing"; leaks fail a test too. The interpreter is not
# instrumented: the sanitizer runtime is preloaded into it, with the C++
# runtime beside it so that the sanitizer finds the exception functions it
# wraps; the interpreter leaves its own memory to the system at exit, so
# leaks are not looked for there. oru-sim keeps the runtime first when it
# adds umockdev's library.
asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DORU_SANITIZE_ADDRESS=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --output-on-failure -j$(JOBS) -LE timing
	ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
		LD_PRELOAD=$$(g++ -print-file-name=libasan.so):libstdc++.so.6 \
		ORU_BUILD_DIR=$(abspath $(ASAN_BUILD)) $(PYTHON) -m pytest -q python/tests

# The fuzz targets of fuzz/, built with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer. `make fuzz` runs each for FUZZ_SECONDS from its
# seeds (new inputs go to $(FUZZ_BUILD)/corpus, a failing one to
# $(FUZZ_BUILD)/crashes); `make fuzz-regression` runs each over its seeds once.
fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DORU_FUZZ=ON \
		-DBUILD_TESTING=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target fuzz_targets

fuzz: fuzz-build
	for t in $(FUZZ_TARGETS); do \
		mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/crashes && \
		$(FUZZ_BUILD)/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
			-artifact_prefix=$(FUZZ_BUILD)/crashes/$$t- $(FUZZ_BUILD)/corpus/$$t fuzz/corpus/$$t || exit 1; \
	done

fuzz-regression: fuzz-build
	for t in $(FUZZ_TARGETS); do \
		mkdir -p $(FUZZ_BUILD)/crashes && \
		$(FUZZ_BUILD)/fuzz/$$t -runs=0 -artifact_prefix=$(FUZZ_BUILD)/crashes/$$t- fuzz/corpus/$$t || exit 1; \
	done

demo: deps
	$(MAKE) build
	PYTHONPATH=$(abspath $(BUILD))/python $(BUILD)/sim/oru-sim --camera $(DEMO_CAMERA) -- \
		scripts/demo $(OUT)

# Into $(PREFIX) (staged under $(DESTDIR) when set); the Python package goes to
# PYTHON_INSTALL_DIR when given, else where $(PYTHON) looks under $(PREFIX).
install: configure
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX) \
		$(if $(PYTHON_INSTALL_DIR),-DPYTHON_INSTALL_DIR=$(PYTHON_INSTALL_DIR))
	cmake --build $(BUILD) -j$(JOBS)
	cmake --install $(BUILD)

# Release build; runs every benchmark executable of bench/, the simulator's
# and the INDI driver's timings.
bench: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j$(JOBS)
	for b in $(BENCH_BUILD)/bench/*; do \
		if [ -f "$$b" ] && [ -x "$$b" ]; then "$$b" || exit 1; fi; \
	done
	$(BENCH_BUILD)/sim/oru-sim --camera 0x1001 --counting-pattern -- $(BENCH_BUILD)/bench/sim_bench
	$(BENCH_BUILD)/sim/oru-sim --camera oru6200mc-pro -- $(PYTHON) bench/indi_bench.py $(BENCH_BUILD)

clean:
	rm -rf $(BUILD) $(TSAN_BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD)
