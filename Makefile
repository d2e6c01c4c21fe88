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
ARMHF_BUILD ?= $(BUILD)-armhf
# Python 3.13 (pyenv's; Debian 12 has none) and the tree its module is built in.
PYTHON313 ?= $(lastword $(sort $(wildcard $(HOME)/.pyenv/versions/3.13*/bin/python3.13 \
                                          /root/.pyenv/versions/3.13*/bin/python3.13)))
PY313_BUILD ?= $(BUILD)-py313
# The armhf packages that cannot be installed beside their amd64 twins.
ARMHF_DEPS ?= $(ARMHF_BUILD)/armhf-deps

export PYTHON

.PHONY: all deps configure build test test-cpp test-python test-armhf test-python313 tsan demo install bench clean

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
		-DBUILD_TESTING=OFF -DORU_BUILD_BENCH=OFF
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
		-DORU_UMOCKDEV_PRELOAD=$(ARMHF_DEPS_DIR)/usr/lib/arm-linux-gnueabihf/libumockdev-preload.so.0
	cmake --build $(ARMHF_BUILD) -j$(JOBS)
	cd $(ARMHF_BUILD) && ctest --output-on-failure -j$(JOBS) -LE timing

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

# Release build; runs every benchmark executable of bench/.
bench: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DPython_EXECUTABLE=$(PYTHON)
	cmake --build $(BENCH_BUILD) -j$(JOBS)
	for b in $(BENCH_BUILD)/bench/*; do \
		if [ -f "$$b" ] && [ -x "$$b" ]; then "$$b" || exit 1; fi; \
	done
	$(BENCH_BUILD)/sim/oru-sim --camera 0x1001 --counting-pattern -- $(BENCH_BUILD)/bench/sim_bench

clean:
	rm -rf $(BUILD) $(TSAN_BUILD) $(BENCH_BUILD) $(ARMHF_BUILD) $(PY313_BUILD)
