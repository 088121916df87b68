# Two commands for a fresh Debian machine, run as root:
#   make run   installs what is missing, builds and opens the window
#   make test  installs what is missing, builds with sanitizers and runs every test

JOBS        ?= 2
BUILD_TEST  := build
BUILD_RUN   := build-run
DEPS_BUILD  := cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
               libx11-dev libxft-dev libfontconfig-dev fonts-dejavu-core clang-format \
               librsvg2-bin
DEPS_TEST   := xvfb xfonts-base xauth xdotool x11-utils imagemagick python3 clang libclang-rt-dev

.PHONY: run test build deps deps-test clean format fuzz bench windows deps-windows window-cost \
        package deps-package windows-installer deps-windows-installer
BUILD_WIN   := build-windows
DEPS_WIN    := g++-mingw-w64-x86-64-posix
DEPS_WINE   := wine wine64
FUZZ_SECONDS ?= 60
BUILD_PKG   := build-package
# The one version, from project() in CMakeLists.txt.
VERSION     := $(shell grep -m1 -o 'tamblewick VERSION [0-9.]*' CMakeLists.txt | cut -d' ' -f3)
DEB         := $(BUILD_PKG)/tamblewick_$(VERSION)_amd64.deb
INSTALLER   := $(BUILD_WIN)/tamblewick-$(VERSION)-setup.exe
# Checkers of the installed files, and the dissector's test. tshark's package asks whether
# non-root users may capture; tools/install-deps answers no before it installs.
DEPS_PKG    := desktop-file-utils appstream lintian dpkg-dev file man-db
DEPS_DISSECT := tshark

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
# They also install the Debian package and the Windows installer, so both are built first.
test: DEPS_TEST += $(DEPS_WIN) $(DEPS_WINE) $(DEPS_PKG) $(DEPS_DISSECT) nsis
test: deps-test
	$(MAKE) windows-installer
	$(MAKE) package
	cmake -S . -B $(BUILD_TEST) -DCMAKE_BUILD_TYPE=Debug -DTAMBLEWICK_SANITIZE=ON \
	      -DTAMBLEWICK_WINDOWS_EXE=$(CURDIR)/$(BUILD_WIN)/tamblewick.exe \
	      -DTAMBLEWICK_WINDOWS_INSTALLER=$(CURDIR)/$(INSTALLER) \
	      -DTAMBLEWICK_DEB=$(CURDIR)/$(DEB)
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

deps-windows-installer:
	@./tools/install-deps cmake make $(DEPS_WIN) nsis

# The Windows installer: build-windows/tamblewick-VERSION-setup.exe, made by makensis.
windows-installer: deps-windows-installer windows
	cd $(BUILD_WIN) && cpack -G NSIS
	@test -f $(INSTALLER) || { echo "$(INSTALLER) was not made" >&2; exit 1; }

deps-package:
	@./tools/install-deps $(DEPS_BUILD) $(DEPS_PKG)

# The Debian package: build-package/tamblewick_VERSION_amd64.deb, a stripped Release build
# with Debian's hardening flags, checked by lintian (errors fail, warnings are shown).
package: deps-package
	cmake -S . -B $(BUILD_PKG) -DCMAKE_BUILD_TYPE=Release -DTAMBLEWICK_TESTS=OFF \
	      -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	      -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS) -Wl,-z,now"
	cmake --build $(BUILD_PKG) -j$(JOBS)
	cd $(BUILD_PKG) && cpack -G DEB
	lintian --fail-on error --info $(DEB)

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
	rm -rf $(BUILD_TEST) $(BUILD_RUN) $(BUILD_WIN) $(BUILD_PKG)
