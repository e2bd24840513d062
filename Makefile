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
