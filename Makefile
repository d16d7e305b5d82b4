# Thin front over the CMake presets; see README.md.
.PHONY: all deps build test asan fuzz bench demo windows windows-test windows-demo package clean

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

# The Google Benchmark programs, then a short run of host_latency (Linux;
# docs/performance.md): the host beside a bare receiver, one second each.
bench: build
	@for b in build/default/bench/bench_*; do [ -x "$$b" ] && "$$b"; done
	@if [ -x build/default/bench/host_latency ]; then build/default/bench/host_latency --seconds 1; fi

demo: build
	@sh scripts/demo.sh $(ARGS)

# The Debian package (build/default/zelostrel_VERSION_ARCH.deb); see docs/install.md.
package: build
	cmake --build --preset default --target package

# The module as a 32-bit Windows DLL, and the host and tools as Windows
# programs (cross-built; see docs/windows.md); none needs a DLL of MinGW.
windows:
	@sh scripts/install-windows-deps.sh
	cmake --preset windows
	cmake --build --preset windows
	@sh scripts/check-windows-dll.sh build/windows/device/zelostrel.dll createDev deleteDev
	@for p in host/trackhost tools/trackview tools/ostrelsim; do sh scripts/check-windows-dll.sh build/windows/$$p.exe || exit 1; done

# The module's tests as Windows programs under Wine; the Linux build is made
# first, since one test compares the records of both (see docs/windows.md).
windows-test: build
	@sh scripts/windows-test.sh

# The chain of make demo as Windows programs under Wine (docs/windows.md).
windows-demo:
	@sh scripts/windows-demo.sh $(ARGS)

clean:
	rm -rf build
