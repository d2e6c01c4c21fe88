# Entry points: `make test` (everything CI runs) and `make demo`.
PYTHON ?= /usr/bin/python3
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
TSAN_BUILD ?= build-tsan
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
LOCKS_BUILD ?= build-locks
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = settings_xml dark_bitmap hot_pixel_map frame_markers fx2_image fx3_image
JOBS ?= 2
PREFIX ?= /usr/local
# The simulated camera of the demo: the representative model.
DEMO_CAMERA ?= oru6200mc-pro
OUT ?= out
BENCH_BUILD ?= $(BUILD)-release
# Warnings are errors in every build made here (and so in CI).
WERROR ?= ON
CMAKE_FLAGS = -DORU_WERROR=$(WERROR) -DPython_EXECUTABLE=$(PYTHON)
ARMHF_BUILD ?= $(BUILD)-armhf
# Python 3.13 (pyenv's; Debian 12 has none) and the tree its module is built in.
PYTHON313 ?= $(lastword $(sort $(wildcard $(HOME)/.pyenv/versions/3.13*/bin/python3.13 \
                                          /root/.pyenv/versions/3.13*/bin/python3.13)))
PY313_BUILD ?= $(BUILD)-py313
# The armhf packages that cannot be installed beside their amd64 twins.
ARMHF_DEPS ?= $(ARMHF_BUILD)/armhf-deps

export PYTHON

.PHONY: all deps configure build test format format-check test-cpp test-python test-armhf test-python313 tsan thread-safety asan fuzz-build fuzz \
	fuzz-regression demo install bench clean

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

# The module built for Python 3.13 with a pybind11 that supports it. That
# interpreter has no numpy: the Python tests that need none run, under
# Debian's pytest (pure Python, installed for $(PYTHON)), which the
# interpreter takes from the end of its path; that pytest's own warnings
# about the syntax-tree classes 3.13 deprecates are left out.
PY313_TESTS = $(addprefix python/tests/,test_module.py test_camera_lifecycle.py \
                                        test_shared_library.py test_install.py)
DEBIAN_PYTEST = import sys; sys.path.append("/usr/lib/python3/dist-packages"); \
                import pytest; sys.exit(pytest.console_main())
test-python313: deps
	@test -x "$(PYTHON313)" || { echo "no Python 3.13 found: set PYTHON313"; exit 1; }
	scripts/fetch-pybind11 $(abspath $(PY313_BUILD))/pybind11
	cmake -S . -B $(PY313_BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DPython_EXECUTABLE=$(PYTHON313) \
		-Dpybind11_DIR=$(abspath $(PY313_BUILD))/pybind11/usr/lib/cmake/pybind11 \
		-DBUILD_TESTING=OFF -DORU_BUILD_BENCH=OFF -DORU_BUILD_INDI=OFF -DORU_WERROR=$(WERROR)
	cmake --build $(PY313_BUILD) -j$(JOBS)
	ORU_BUILD_DIR=$(abspath $(PY313_BUILD)) PYTEST_DISABLE_PLUGIN_AUTOLOAD=1 PYTHONDONTWRITEBYTECODE=1 \
		$(PYTHON313) -c '$(DEBIAN_PYTEST)' -q $(PY313_TESTS) \
		-W 'ignore::DeprecationWarning:_pytest.assertion.rewrite'

# The C++ tests on 32-bit Arm hard-float: cross-built, run under qemu-user
# (the simulator starts armhf programs through the kernel's binfmt_misc).
# Tests labelled timing are left out: emulation cannot keep their pace.
ARMHF_DEPS_DIR = $(abspath $(ARMHF_DEPS))
test-armhf: deps
	scripts/install-deps-armhf $(ARMHF_DEPS_DIR)
	cmake -S . -B $(ARMHF_BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
		-DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/armhf-linux-gnueabihf.cmake) \
		-DCMAKE_PREFIX_PATH=$(ARMHF_DEPS_DIR)/usr \
		-DORU_UMOCKDEV_PRELOAD=$(ARMHF_DEPS_DIR)/usr/lib/arm-linux-gnueabihf/libumockdev-preload.so.0 \
		-DORU_WERROR=$(WERROR)
	cmake --build $(ARMHF_BUILD) -j$(JOBS)
	cd $(ARMHF_BUILD) && ctest --output-on-failure -j$(JOBS) -LE timing

# The C++ tests once more, built with ThreadSanitizer.
# The suites where threads meet (worker threads, camera lock sets, ring,
# capture lifecycle, registry and flat API, auto controls, cooler, and the
# flat-API hammer, ctest label "concurrency", and the dark frame's hot-pixel
# repair against an ROI change) under ThreadSanitizer. The USB
# emulation underneath is not instrumented: tests/tsan.supp keeps its
# hand-overs out of the reports. Tests labelled "timing" are left out: under
# the sanitizer's slowdown the simulated camera's frames outrun the host and
# those tests see the drops they are meant to rule out.
TSAN_TESTS = ThreadCtrl|CameraLockSet|CirBuf[A-Za-z]*|CameraCapture|CameraCooler|CameraRegistryTest|AutoControl|FlatApiTest|HammerTest|DarkHotListRaceTest
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DORU_SANITIZE_THREAD=ON \
		$(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j$(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="suppressions=$(abspath tests/tsan.supp) detect_deadlocks=0 history_size=7" \
		ctest --output-on-failure -j$(JOBS) -LE timing -R '^($(TSAN_TESTS))\.'

# Every C and C++ source as .clang-format says (sim/ and tests/sim/ have
# their own): format rewrites them, format-check fails on any difference.
FORMAT_FILES = $(shell git ls-files '*.c' '*.cpp' '*.h' '*.h.in')

format: deps
	@clang-format -i $(FORMAT_FILES)

format-check: deps
	@clang-format --dry-run --Werror $(FORMAT_FILES)
	@echo "format-check: $(words $(FORMAT_FILES)) sources as .clang-format says"

# The library built with clang's thread-safety analysis: a member read or
# written without the lock that guards it, a function called without a lock
# it needs, or two locks taken against their declared order fail the build.
thread-safety: deps
	CC=clang CXX=clang++ cmake -S . -B $(LOCKS_BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
		-DORU_THREAD_SAFETY_ANALYSIS=ON -DBUILD_TESTING=OFF -DORU_BUILD_PYTHON=OFF \
		-DORU_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(LOCKS_BUILD) -j$(JOBS) --target tav_oru oru_wrapper

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
# and the INDI driver's timings, and video from Python against the C example
# on one simulated camera.
bench: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j$(JOBS)
	for b in $(BENCH_BUILD)/bench/*; do \
		if [ -f "$$b" ] && [ -x "$$b" ]; then "$$b" || exit 1; fi; \
	done
	$(BENCH_BUILD)/sim/oru-sim --camera 0x1001 --counting-pattern -- $(BENCH_BUILD)/bench/sim_bench
	$(BENCH_BUILD)/sim/oru-sim --camera oru6200mc-pro -- $(PYTHON) bench/indi_bench.py $(BENCH_BUILD)
	PYTHONPATH=$(abspath $(BENCH_BUILD))/python $(BENCH_BUILD)/sim/oru-sim --camera oru6200mc-pro -- \
		$(PYTHON) bench/stream_bench.py $(BENCH_BUILD)/examples/stream_video

clean:
	rm -rf $(BUILD) $(TSAN_BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(LOCKS_BUILD) $(BENCH_BUILD) $(ARMHF_BUILD) $(PY313_BUILD)
