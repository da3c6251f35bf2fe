# Two commands for a newcomer: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test package vm-test bench sanitize fuzz soak windows clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

# Builds only the programs it runs, quietly (the suite and the benchmarks are left for `make test`
# and `make bench`), and runs the simulated instrument: scripts/run.sh.
run: configure
	@scripts/run.sh $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$$(nproc)

# The Debian packages vxa4410-cli and vxa4410-loader (in a Windows build, a zip archive), written
# into $(BUILD)/; scripts/package-test.sh checks them.
package: build
	@cmake --build $(BUILD) --target package

# The program against the kernel's own FTDI driver, in a small QEMU guest whose emulated FTDI chip
# is wired to vxa4410-sim (README: "The real driver in a virtual machine").
vm-test: configure
	@scripts/vm-test.sh $(BUILD)

bench: configure
	@cmake --build $(BUILD) --target bench_update bench_micro
	@scripts/bench.sh $(BUILD)

# The suite again under AddressSanitizer with UndefinedBehaviorSanitizer, then ThreadSanitizer,
# each in its own build folder; any report fails.
sanitize: deps
	@scripts/sanitize.sh address,undefined build-asan
	@scripts/sanitize.sh thread build-tsan

# The answer fuzzer (clang's libFuzzer) for a fixed number of runs.
fuzz: deps
	@scripts/fuzz.sh build-fuzz $(FUZZ_RUNS)

# The randomized fault campaign over N seeds (20000 by default) from FIRST (0): scripts/soak.sh.
N ?= 20000
FIRST ?= 0
soak: configure
	@scripts/soak.sh $(BUILD) $(N) $(FIRST)

# The window vxa4410-loader.exe, vxa4410-cli.exe and the portable tests cross-built for Windows
# x86-64 (build-win), the suite and the window's tests under Wine on Xvfb (screenshots in
# build-win/screenshots), an update over a COM port and over the vendor's library, the zip
# archive and the installer (build-win/vxa4410-loader-VERSION-win64.zip and -setup.exe), and the
# 32-bit build (build-win32). The COM-port update needs the Linux simulator: after `make build`.
windows:
	@scripts/install-deps.sh --windows
	@scripts/windows.sh $(BUILD) build-win build-win32

clean:
	@rm -rf $(BUILD)
