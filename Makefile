# Entry points: `make test` (everything CI runs) and `make demo`.
PYTHON ?= /usr/bin/python3
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= 2
BENCH_BUILD ?= $(BUILD)-release

export PYTHON

.PHONY: all deps configure build test test-cpp test-python demo bench clean

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

clean:
	rm -rf $(BUILD) $(BENCH_BUILD)
