# Thin wrapper over CMake: every target first makes sure the machine has what
# the project needs (scripts/setup), then builds.
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: all setup configure build run test bench clean

all: build

setup:
	@scripts/setup

configure: setup
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

run: build
	@scripts/run

test: build
	@cd $(BUILD) && ctest --output-on-failure --timeout 600

bench: build
	@scripts/bench $(BUILD)

clean:
	rm -rf $(BUILD)
