# Each target sets up its own virtual environment from pyproject.toml.
PYTHON := $(shell tools/find-python)
VENV := .venv
VPY := $(VENV)/bin/python

.DEFAULT_GOAL := help
.PHONY: help demo test test-fast test-other-pythons bench bench-native install clean

help:
	@echo "make install      build the module into .venv (CPython 3.13), again only when a source changed"
	@echo "make demo         run examples/demo.py on the shipped samples"
	@echo "make test         the whole suite, as CI runs it (3.13, ASan+UBSan, 3.11, 3.12)"
	@echo "make test-fast    the suite on 3.13 only"
	@echo "make test-asan    the suite against an AddressSanitizer+UBSan build"
	@echo "make test-all-pythons   the suite on each CPython of PYTHON_VERSIONS found here"
	@echo "make bench        the benchmarks (needs the full data files)"
	@echo "make bench-native the readers and the merge without Python (BENCH_DATA, default ../shared/data)"
	@echo "make fuzz         libFuzzer on each reader, FUZZ_SECONDS each (default 60)"
	@echo "make plot         draw the sample indices into PLOT_OUTPUT (default build/indices.png)"
	@echo "make wheel-test   build the sdist and wheel, test the installed wheel"
	@echo "make differential FILES random files read by BASE's build and this tree's, compared"
	@echo "make clean        remove build/ and the virtual environments"

$(VPY):
	$(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install --quiet --upgrade pip

# The module is built again only when a file it is built from changed: a build takes minutes.
INSTALLED := $(VENV)/.installed
BUILT_FROM := pyproject.toml CMakeLists.txt $(shell find src python stubs -type f ! -path '*/__pycache__/*')

$(INSTALLED): $(VPY) $(BUILT_FROM)
	$(VPY) -m pip install --quiet ".[test]"
	touch $@

install: $(INSTALLED)

# The requirements of the extra named after it, one a line, from pyproject.toml: installing
# them beside the built module leaves it as it is (`pip install ".[extra]"` would build it again).
EXTRA_REQUIREMENTS = $(VPY) -c 'import sys, tomllib; \
	print(*tomllib.load(open("pyproject.toml", "rb"))["project"]["optional-dependencies"][sys.argv[1]], sep="\n")'

demo: install
	$(VPY) examples/demo.py

# The whole suite, as CI runs it: on CPython 3.13, then against a build with
# AddressSanitizer and UBSan, then on every other supported CPython found here.
test: test-fast test-asan test-other-pythons

# The suite on CPython 3.13 only: the quick loop while developing.
test-fast: install
	$(VPY) -m pytest -q

test-other-pythons:
	$(MAKE) test-all-pythons PYTHON_VERSIONS="3.11 3.12"

bench: $(VPY)
	$(VPY) -m pip install --quiet ".[bench]"
	$(VPY) bench/run.py

# The readers and the merge without Python: wall times, or one pass of each for
# `valgrind --tool=callgrind build/bench/readers DATA_DIR 1`.
BENCH_DATA ?= $(or $(SUNINDEX_FULL_DATA),../shared/data)
build/bench/readers: bench/readers.cpp $(wildcard src/readers/*.cpp src/readers/*.hpp src/common/*.hpp src/store/*)
	mkdir -p build/bench
	$(CXX) -std=c++20 -O3 -Isrc -o $@ bench/readers.cpp $(wildcard src/readers/*.cpp) src/store/index_store.cpp -pthread

bench-native: build/bench/readers
	build/bench/readers $(BENCH_DATA)

clean:
	rm -rf build $(VENV) .venv-*

# --- Fuzzing: libFuzzer targets over the readers, built with clang from Debian's packages.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := celestrak_csv solfsmy dtcfile msfc_prediction swpc_forecast legacy_text gfz_kp gfz_hpo
FUZZ_BUILD := build/fuzz
FUZZ_CXX ?= clang++
FUZZ_CXXFLAGS := -std=c++20 -O1 -g -fno-omit-frame-pointer -Isrc \
	-fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
FUZZ_SOURCES := $(wildcard src/readers/*.cpp) src/store/index_store.cpp

.PHONY: fuzz-deps fuzz-build fuzz

fuzz-deps:
	dpkg -s clang libclang-rt-14-dev >/dev/null 2>&1 || \
		{ apt-get update && apt-get install -y --no-install-recommends clang libclang-rt-14-dev; }

$(FUZZ_BUILD)/fuzz_%: fuzz/fuzz_%.cpp $(wildcard fuzz/*.hpp) $(FUZZ_SOURCES) $(wildcard src/readers/*.hpp src/common/*.hpp src/store/*.hpp) | fuzz-deps
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
# ASan see the interpreter's allocations too. libstdc++ is preloaded beside ASan
# so that its __cxa_throw interceptor finds the real one: without it, the first
# C++ exception of an extension that links libstdc++ late (matplotlib's) aborts.
test-asan: $(ASAN_PY)
	$(ASAN_PY) -m pip install --quiet ".[test]" --config-settings=build-dir=$(ASAN_BUILD)/{wheel_tag} \
		--config-settings=cmake.build-type=RelWithDebInfo \
		"--config-settings=cmake.define.CMAKE_CXX_FLAGS=$(ASAN_CXXFLAGS)"
	LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libstdc++.so)" \
		ASAN_OPTIONS=detect_leaks=0 PYTHONMALLOC=malloc \
		UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 $(ASAN_PY) -m pytest -q -p no:cacheprovider

# --- The example plot of the shipped samples (matplotlib from the `examples` extra). It goes
# to build/ so that the tracked examples/indices.png changes only when asked for by name.
PLOT_OUTPUT ?= build/indices.png
.PHONY: plot

plot: install
	$(EXTRA_REQUIREMENTS) examples | $(VPY) -m pip install --quiet -r /dev/stdin
	mkdir -p $(dir $(PLOT_OUTPUT))
	$(VPY) examples/plot_indices.py $(PLOT_OUTPUT)

# --- sdist and wheel: the wheel is built from the sdist, installed into a fresh venv, and the
# sdist's own tests run against it (the tree holds no Python package, so only the installed
# module can be imported).
WHEEL_TEST := build/wheel-test

.PHONY: wheel-test

wheel-test: install
	rm -rf $(WHEEL_TEST)
	$(VPY) -m build --outdir $(WHEEL_TEST)/dist .
	$(PYTHON) -m venv $(WHEEL_TEST)/venv
	$(WHEEL_TEST)/venv/bin/python -m pip install --quiet "$$(echo $(WHEEL_TEST)/dist/*.whl)[test]"
	tar -xzf $(WHEEL_TEST)/dist/*.tar.gz -C $(WHEEL_TEST)
	cd $(WHEEL_TEST)/sunindex-*/ && ../venv/bin/python -c "import sunindex; print('testing', sunindex.__file__)" && \
		SUNINDEX_FULL_DATA="$${SUNINDEX_FULL_DATA:-$(CURDIR)/../shared/data}" \
		../venv/bin/python -m pytest -q -p no:cacheprovider

# --- The suite on every supported CPython found on this machine, each in its own .venv-X.Y;
# versions that are not installed are skipped, failures are listed at the end.
PYTHON_VERSIONS ?= 3.11 3.12 3.13

.PHONY: test-all-pythons

test-all-pythons:
	@failed=""; for v in $(PYTHON_VERSIONS); do \
		py=$$(tools/find-python $$v 2>/dev/null) || { echo "== CPython $$v: not installed, skipped"; continue; }; \
		echo "== CPython $$v: $$py"; \
		{ [ -x .venv-$$v/bin/python ] || { $$py -m venv .venv-$$v && \
			.venv-$$v/bin/python -m pip install --quiet --upgrade pip; }; } && \
		.venv-$$v/bin/python -m pip install --quiet ".[test]" && \
		.venv-$$v/bin/python -m pytest -q -p no:cacheprovider || failed="$$failed $$v"; \
	done; \
	if [ -n "$$failed" ]; then echo "test-all-pythons: failed on$$failed"; exit 1; fi

# --- Differential run: the same FILES random files (from SEED) read by the build of BASE, in
# .venv-base, and by this tree's, in .venv; any difference in what a caller sees fails it.
BASE ?= 9054ea6
FILES ?= 100000
SEED ?= 1

.PHONY: differential

differential: install
	$(PYTHON) tools/differential.py --base $(BASE) --files $(FILES) --seed $(SEED) --python $(PYTHON)
