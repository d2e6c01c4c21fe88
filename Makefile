# Entry points: `make test` (everything CI runs) and `make demo`.
PYTHON ?= /usr/bin/python3
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
TSAN_BUILD ?= build-tsan
JOBS ?= 2
PREFIX ?= /usr/local
# The simulated camera of the demo: the representative model.
DEMO_CAMERA ?= oru6200mc-pro
OUT ?= out
BENCH_BUILD ?= $(BUILD)-release

export PYTHON

.PHONY: all deps configure build test test-cpp test-python tsan demo install bench clean

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

# pytest starts itself again under $(BUILD)/sim/oru-sim with a simulated camera.
test-python:
	ORU_BUILD_DIR=$(abspath $(BUILD)) $(PYTHON) -m pytest -q python/tests

# The C++ tests once more, built with ThreadSanitizer.
# The suites where threads meet (worker threads, ring, capture lifecycle,
# registry and flat API, auto controls, cooler) under ThreadSanitizer. The USB
# emulation underneath is not instrumented: tests/tsan.supp keeps its
# hand-overs out of the reports. The frame-timing tests of video capture are
# left out: under the sanitizer's slowdown the simulated camera's frames
# outrun the host and those tests see the drops they are meant to rule out.
TSAN_TESTS = ThreadCtrl|RunningRing|CirBuf|CameraCapture|CameraCooler|CameraRegistryTest|AutoControl|FlatApiTest
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DORU_SANITIZE_THREAD=ON \
		-DPython_EXECUTABLE=$(PYTHON)
	cmake --build $(TSAN_BUILD) -j$(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="suppressions=$(abspath tests/tsan.supp) detect_deadlocks=0 history_size=7" \
		ctest --output-on-failure -j$(JOBS) -R '^($(TSAN_TESTS))\.'

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

# Release build; runs every benchmark executable of bench/, then video from
# Python against the C example on one simulated camera.
bench: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DPython_EXECUTABLE=$(PYTHON)
	cmake --build $(BENCH_BUILD) -j$(JOBS)
	for b in $(BENCH_BUILD)/bench/*; do \
		if [ -f "$$b" ] && [ -x "$$b" ]; then "$$b" || exit 1; fi; \
	done
	$(BENCH_BUILD)/sim/oru-sim --camera 0x1001 --counting-pattern -- $(BENCH_BUILD)/bench/sim_bench
	PYTHONPATH=$(abspath $(BENCH_BUILD))/python $(BENCH_BUILD)/sim/oru-sim --camera oru6200mc-pro -- \
		$(PYTHON) bench/stream_bench.py $(BENCH_BUILD)/examples/stream_video

clean:
	rm -rf $(BUILD) $(TSAN_BUILD) $(BENCH_BUILD)
