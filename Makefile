# Two commands for a fresh Debian machine, run as root:
#   make run   installs what is missing, builds and opens the window
#   make test  installs what is missing, builds with sanitizers and runs every test

JOBS        ?= 2
BUILD_TEST  := build
BUILD_RUN   := build-run
DEPS_BUILD  := cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
               libx11-dev libxft-dev libfontconfig-dev fonts-dejavu-core clang-format
DEPS_TEST   := xvfb xfonts-base xauth xdotool x11-utils imagemagick python3 clang libclang-rt-dev \
               tmux iproute2

.PHONY: run test build deps deps-test clean format fuzz bench windows deps-windows window-cost
BUILD_WIN   := build-windows
DEPS_WIN    := g++-mingw-w64-x86-64-posix
DEPS_WINE   := wine wine64
FUZZ_SECONDS ?= 60

deps:
	@./tools/install-deps $(DEPS_BUILD)

deps-test:
	@./tools/install-deps $(DEPS_BUILD) $(DEPS_TEST)

build: deps
	cmake -S . -B $(BUILD_RUN) -DCMAKE_BUILD_TYPE=Release -DTAMBLEWICK_TESTS=OFF
	cmake --build $(BUILD_RUN) -j$(JOBS)

run: build
	./$(BUILD_RUN)/tamblewick

# The tests also run the Windows build under Wine, so they need the cross compiler and wine.
test: DEPS_TEST += $(DEPS_WIN) $(DEPS_WINE)
test: deps-test
	$(MAKE) windows
	cmake -S . -B $(BUILD_TEST) -DCMAKE_BUILD_TYPE=Debug -DTAMBLEWICK_SANITIZE=ON \
	      -DTAMBLEWICK_WINDOWS_EXE=$(CURDIR)/$(BUILD_WIN)/tamblewick.exe
	cmake --build $(BUILD_TEST) -j$(JOBS)
	cd $(BUILD_TEST) && ctest --output-on-failure -j$(JOBS) --timeout 600
	./tools/run-fuzz $(FUZZ_SECONDS)

deps-windows:
	@./tools/install-deps cmake make $(DEPS_WIN)

# The same program for Windows, cross-built with mingw-w64: build-windows/tamblewick.exe
windows: deps-windows
	cmake -S . -B $(BUILD_WIN) -DCMAKE_BUILD_TYPE=Release \
	      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DTAMBLEWICK_TESTS=OFF
	cmake --build $(BUILD_WIN) -j$(JOBS)

# Coverage-guided fuzzing of one-datagram dispatch, FUZZ_SECONDS per mode.
fuzz: deps-test
	./tools/run-fuzz $(FUZZ_SECONDS)

# Benchmarks: prints the table and writes it as JSON.
bench: deps
	./tools/run-bench

# CPU and frames per second of the release window, idle and under a chat load, on Xvfb.
window-cost: build
	./tools/window-cost

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD_TEST) $(BUILD_RUN) $(BUILD_WIN)
