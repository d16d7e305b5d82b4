# Thin front over the CMake presets; see README.md.
.PHONY: all deps build test asan fuzz bench demo clean

all: build

deps:
	@sh scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default

test: build
	ctest --preset default

asan: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz

bench: build
	@for b in build/default/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

demo: build
	@sh scripts/demo.sh $(ARGS)

clean:
	rm -rf build
