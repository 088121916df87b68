# Two commands for a fresh Debian machine, run as root:
#   make run   installs what is missing, builds and opens the window
#   make test  installs what is missing, builds with sanitizers and runs every test
# and the everyday loop while changing the code:
#   make check builds with sanitizers and runs every unit, loopback and window test

JOBS        ?= 2
BUILD_TEST  := build
BUILD_RUN   := build-run
BUILD_CLANG := build-clang
# What building and running the window needs (rsvg-convert draws its own icon; without it
# the window builds with none); the tests and benchmarks add their own.
DEPS_BUILD  := cmake g++ make pkg-config libx11-dev libxft-dev libfontconfig-dev fonts-dejavu-core \
               librsvg2-bin
DEPS_BENCH  := libbenchmark-dev
# The dissector's test. tshark's package asks whether non-root users may capture;
# tools/install-deps answers no before it installs.
DEPS_DISSECT := tshark
DEPS_TEST   := libgtest-dev libgmock-dev $(DEPS_BENCH) xvfb xfonts-base xauth xdotool x11-utils \
               imagemagick python3 clang libclang-rt-dev tmux iproute2 $(DEPS_DISSECT) \
               openbox xclip x11-xkb-utils
# The package builders (rsvg-convert draws the PNG icons, rpmbuild makes the RPMs) and the
# checkers of the installed files.
DEPS_PKG    := librsvg2-bin rpm desktop-file-utils appstream lintian rpmlint cpio dpkg-dev file \
               man-db
# The sanitizer build of make check and make test; the window program is required there.
CONFIG_TEST := cmake -S . -B $(BUILD_TEST) -DCMAKE_BUILD_TYPE=Debug -DTAMBLEWICK_SANITIZE=ON \
               -DTAMBLEWICK_WINDOW=ON

.PHONY: run test sanitizer-test check clang-test build deps deps-test clean format fuzz bench windows deps-windows window-cost \
        package deps-package windows-installer deps-windows-installer dist
BUILD_WIN   := build-windows
DEPS_WIN    := g++-mingw-w64-x86-64-posix
DEPS_WINE   := wine wine64
FUZZ_SECONDS ?= 60
space       := $(empty) $(empty)
BUILD_PKG   := build-package
# The one version, from project() in CMakeLists.txt.
VERSION     := $(shell grep -m1 -o 'tamblewick VERSION [0-9.]*' CMakeLists.txt | cut -d' ' -f3)
# One package of each program in each format, as make package leaves them.
DEB         := $(BUILD_PKG)/tamblewick_$(VERSION)_amd64.deb
DEB_TTY     := $(BUILD_PKG)/tamblewick-tty_$(VERSION)_amd64.deb
RPM         := $(BUILD_PKG)/tamblewick-$(VERSION)-1.x86_64.rpm
RPM_TTY     := $(BUILD_PKG)/tamblewick-tty-$(VERSION)-1.x86_64.rpm
PACKAGES    := $(DEB) $(DEB_TTY) $(RPM) $(RPM_TTY)
INSTALLER   := $(BUILD_WIN)/tamblewick-$(VERSION)-setup.exe

deps:
	@./tools/install-deps $(DEPS_BUILD)

deps-test:
	@./tools/install-deps $(DEPS_BUILD) $(DEPS_TEST)

build: deps
	cmake -S . -B $(BUILD_RUN) -DCMAKE_BUILD_TYPE=Release -DTAMBLEWICK_TESTS=OFF \
	      -DTAMBLEWICK_WINDOW=ON
	cmake --build $(BUILD_RUN) -j$(JOBS)

run: build
	./$(BUILD_RUN)/tamblewick

# Every unit, loopback and window test in the sanitizer build; no Wine, fuzzing or clang.
check: deps-test
	$(CONFIG_TEST) -DTAMBLEWICK_WINDOWS_EXE= -DTAMBLEWICK_WINDOWS_INSTALLER= -DTAMBLEWICK_PACKAGES=
	cmake --build $(BUILD_TEST) -j$(JOBS)
	cd $(BUILD_TEST) && ctest --output-on-failure -j$(JOBS) --timeout 600

# The full suite: the tests also run the Windows build under Wine, so they need the cross
# compiler and wine; then every target once more with clang, its unit tests, and fuzzing.
# They also install the Linux packages and the Windows installer, so these are built first.
# Every stage runs even when one before it failed; a summary at the end says which failed.
TEST_STAGES := windows-installer package sanitizer-test clang-test fuzz
test: DEPS_TEST += $(DEPS_WIN) $(DEPS_WINE) $(DEPS_PKG) nsis
test: deps-test
	+@MAKE="$(MAKE)" ./tools/run-stages $(TEST_STAGES)

# The sanitizer build with the Windows program, its installer and the packages under test.
sanitizer-test: deps-test
	$(CONFIG_TEST) -DTAMBLEWICK_WINDOWS_EXE=$(CURDIR)/$(BUILD_WIN)/tamblewick.exe \
	               -DTAMBLEWICK_WINDOWS_INSTALLER=$(CURDIR)/$(INSTALLER) \
	               -DTAMBLEWICK_PACKAGES="$(subst $(space),;,$(addprefix $(CURDIR)/,$(PACKAGES)))"
	cmake --build $(BUILD_TEST) -j$(JOBS)
	cd $(BUILD_TEST) && ctest --output-on-failure -j$(JOBS) --timeout 600

# Every target built with clang as well (no sanitizers), so that neither compiler's
# warnings can creep in; its unit tests run, the window and terminal tests only in the sanitizer build.
clang-test: deps-test
	cmake -S . -B $(BUILD_CLANG) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
	      -DTAMBLEWICK_WINDOW=ON -DTAMBLEWICK_BENCH=ON
	cmake --build $(BUILD_CLANG) -j$(JOBS)
	cd $(BUILD_CLANG) && ctest --output-on-failure -j$(JOBS) --timeout 600 -E '^ui_(windows?|tty)_'

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

# The Linux packages from one stripped Release build with Debian's hardening flags:
# tamblewick (the window) and tamblewick-tty (the terminal program and server), each as a
# .deb and an RPM in build-package/. lintian fails on errors and warnings, rpmlint on
# errors. They live under /usr, CPack's prefix, whatever the build was configured with:
# the files that name paths (unit, manual) are filled in when installing.
package: deps-package
	cmake -S . -B $(BUILD_PKG) -DCMAKE_BUILD_TYPE=Release -DTAMBLEWICK_TESTS=OFF \
	      -DTAMBLEWICK_WINDOW=ON \
	      -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	      -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS) -Wl,-z,now"
	cmake --build $(BUILD_PKG) -j$(JOBS)
	rm -f $(PACKAGES)
	cd $(BUILD_PKG) && cpack -G "DEB;RPM"
	lintian --fail-on error,warning --info $(DEB) $(DEB_TTY)
	rpmlint -c packaging/rpmlint.toml $(RPM) $(RPM_TTY)

# The source release, build-package/tamblewick-VERSION.tar.gz: the committed tree of HEAD
# (git archive), which builds and tests without git. DIST_DIR puts it elsewhere.
DIST_DIR    ?= $(BUILD_PKG)
dist:
	mkdir -p $(DIST_DIR)
	git archive --format=tar.gz --prefix=tamblewick-$(VERSION)/ \
	    -o $(DIST_DIR)/tamblewick-$(VERSION).tar.gz HEAD
	@echo "$(DIST_DIR)/tamblewick-$(VERSION).tar.gz"

# Coverage-guided fuzzing of one-datagram dispatch, FUZZ_SECONDS per mode.
fuzz: deps-test
	./tools/run-fuzz $(FUZZ_SECONDS)

# Benchmarks: prints the table and writes it as JSON.
bench: deps
	@./tools/install-deps $(DEPS_BENCH)
	./tools/run-bench

# CPU and frames per second of the release window, idle and under a chat load, on Xvfb.
window-cost: build
	./tools/window-cost

format:
	@./tools/install-deps clang-format
	clang-format -i $$(git ls-files '*.cpp' '*.h')

# Every build folder: the test, run, Windows, clang, fuzz and benchmark builds.
clean:
	rm -rf $(BUILD_TEST) build-*/
