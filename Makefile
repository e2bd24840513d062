# Each target sets up its own virtual environment from pyproject.toml.
PYTHON := $(shell tools/find-python)
VENV := .venv
VPY := $(VENV)/bin/python

.PHONY: demo test bench install clean

$(VPY):
	$(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install --quiet --upgrade pip

install: $(VPY)
	$(VPY) -m pip install --quiet ".[test]"

demo: install
	$(VPY) examples/demo.py

test: install
	$(VPY) -m pytest -q

bench: $(VPY)
	$(VPY) -m pip install --quiet ".[bench]"
	$(VPY) bench/run.py

clean:
	rm -rf build $(VENV)

# --- Fuzzing: libFuzzer targets over the readers, built with clang from Debian's packages.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := celestrak_csv solfsmy dtcfile
FUZZ_BUILD := build/fuzz
FUZZ_CXX ?= clang++
FUZZ_CXXFLAGS := -std=c++20 -O1 -g -fno-omit-frame-pointer -Isrc \
	-fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
FUZZ_SOURCES := src/readers/text.cpp src/readers/celestrak_csv.cpp src/readers/fixed_columns.cpp \
	src/readers/solfsmy.cpp src/readers/dtcfile.cpp src/store/index_store.cpp

.PHONY: fuzz-deps fuzz-build fuzz

fuzz-deps:
	dpkg -s clang libclang-rt-14-dev >/dev/null 2>&1 || \
		{ apt-get update && apt-get install -y --no-install-recommends clang libclang-rt-14-dev; }

$(FUZZ_BUILD)/fuzz_%: fuzz/fuzz_%.cpp fuzz/checks.hpp $(FUZZ_SOURCES) $(wildcard src/readers/*.hpp src/store/*.hpp) | fuzz-deps
	mkdir -p $(FUZZ_BUILD)
	$(FUZZ_CXX) $(FUZZ_CXXFLAGS) -o $@ $< $(FUZZ_SOURCES)

fuzz-build: $(FUZZ_TARGETS:%=$(FUZZ_BUILD)/fuzz_%)

fuzz: fuzz-build
	sh fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# --- The module built with AddressSanitizer and UBSan (g++), and the whole suite run under it.
ASAN_VENV ?= .venv-asan
ASAN_PY := $(ASAN_VENV)/bin/python
ASAN_BUILD ?= build/asan
ASAN_CXXFLAGS := -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer

.PHONY: test-asan

$(ASAN_PY):
	$(PYTHON) -m venv $(ASAN_VENV)
	$(ASAN_PY) -m pip install --quiet --upgrade pip

# CPython itself leaks at exit, hence detect_leaks=0; PYTHONMALLOC=malloc lets
# ASan see the interpreter's allocations too.
test-asan: $(ASAN_PY)
	$(ASAN_PY) -m pip install --quiet ".[test]" --config-settings=build-dir=$(ASAN_BUILD)/{wheel_tag} \
		--config-settings=cmake.build-type=RelWithDebInfo \
		"--config-settings=cmake.define.CMAKE_CXX_FLAGS=$(ASAN_CXXFLAGS)"
	LD_PRELOAD="$$(g++ -print-file-name=libasan.so)" ASAN_OPTIONS=detect_leaks=0 PYTHONMALLOC=malloc \
		UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 $(ASAN_PY) -m pytest -q -p no:cacheprovider
