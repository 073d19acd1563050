# Vantrel — build, test and run. Every target installs what it needs first.

BUILD       ?= build
JOBS        ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE       ?= cmake
CTEST_ARGS  ?=
SUDO        := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# Debian 12 packages for the build, the tests (locales: the sources from which
# a test builds a decimal-comma locale), the simulated chip (gpsim's library
# and headers, whose headers include GLib's), the simulated board's example files,
# the screenshots, the sanitizer and fuzzing builds, the format check, and the
# package and its checks.
PACKAGES := build-essential cmake pkg-config \
	qt6-base-dev qt6-serialport-dev libgl-dev \
	libgtest-dev libgmock-dev libbenchmark-dev locales \
	gputils srecord gpsim gpsim-dev libglib2.0-dev \
	clang libclang-rt-14-dev clang-format \
	xvfb xauth x11-apps imagemagick fonts-liberation \
	dpkg-dev lintian desktop-file-utils appstream mandoc

export QT_QPA_PLATFORM ?= offscreen

.PHONY: all deps configure build test run demo demo-chip install package bench soak sanitize fuzz format format-check clean

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' "$$p" 2>/dev/null | grep -q '^install ok installed$$' || missing="$$missing $$p"; \
	done; \
	if [ -z "$$missing" ]; then echo "deps: all packages present"; exit 0; fi; \
	echo "deps: installing$$missing"; \
	if [ -z "$$(find /var/lib/apt/lists -maxdepth 1 -name '*_Packages*' 2>/dev/null | head -n 1)" ]; then \
	  $(SUDO) apt-get update; \
	fi; \
	DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing \
	  || { $(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; }

$(BUILD)/CMakeCache.txt:
	$(CMAKE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	$(CMAKE) --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 900 $(CTEST_ARGS)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  xvfb-run -a -s "-screen 0 1024x768x24" sh -c \
	    'echo "run: no display here; the window is on the virtual display $$DISPLAY"; exec env -u QT_QPA_PLATFORM $(BUILD)/bin/vantrel'; \
	else \
	  env -u QT_QPA_PLATFORM $(BUILD)/bin/vantrel; \
	fi

demo: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  xvfb-run -a -s "-screen 0 1024x768x24" sh -c \
	    'echo "demo: no display here; the window is on the virtual display $$DISPLAY"; exec env -u QT_QPA_PLATFORM tools/demo.sh $(BUILD)/bin/vantrel $(BUILD)/bin/boardsim'; \
	else \
	  env -u QT_QPA_PLATFORM tools/demo.sh $(BUILD)/bin/vantrel $(BUILD)/bin/boardsim; \
	fi

# The window against the simulated PIC18F452 with the reference bootloader on
# COM3; the file dialog opens at the firmware build (the example application).
demo-chip: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  xvfb-run -a -s "-screen 0 1024x768x24" sh -c \
	    'echo "demo-chip: no display here; the window is on the virtual display $$DISPLAY"; exec env -u QT_QPA_PLATFORM VANTREL_DEMO_FILES=$(BUILD)/firmware tools/demo.sh $(BUILD)/bin/vantrel $(BUILD)/bin/vantrel-picsim'; \
	else \
	  env -u QT_QPA_PLATFORM VANTREL_DEMO_FILES=$(BUILD)/firmware tools/demo.sh $(BUILD)/bin/vantrel $(BUILD)/bin/vantrel-picsim; \
	fi

# Into PREFIX (or a staging folder: make install DESTDIR=/tmp/stage).
PREFIX ?= /usr/local
install: build
	$(CMAKE) --install $(BUILD) --prefix $(PREFIX)

# The Debian packages, from a build of their own: Release, no tests, installed
# under /usr, with Debian's hardening flags (dpkg-buildflags).
PACKAGE_BUILD ?= build-package
PACKAGE_FLAGS := DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get

$(PACKAGE_BUILD)/CMakeCache.txt:
	CXXFLAGS="$$($(PACKAGE_FLAGS) CPPFLAGS) $$($(PACKAGE_FLAGS) CXXFLAGS)" \
	LDFLAGS="$$($(PACKAGE_FLAGS) LDFLAGS)" \
	  $(CMAKE) -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=Release -DVANTREL_BUILD_TESTS=OFF \
	  -DCMAKE_INSTALL_PREFIX=/usr

# Four packages: vantrel (the window), vantrel-flash (the flasher and the
# simulated board), vantrel-firmware (the bootloader's HEX files, for every
# architecture) and vantrel-picsim (the simulated chip); packages of an
# earlier version are cleared first.
PACKAGE_FILES = $(PACKAGE_BUILD)/vantrel_*_$$(dpkg --print-architecture).deb \
	$(PACKAGE_BUILD)/vantrel-flash_*_$$(dpkg --print-architecture).deb \
	$(PACKAGE_BUILD)/vantrel-firmware_*_all.deb \
	$(PACKAGE_BUILD)/vantrel-picsim_*_$$(dpkg --print-architecture).deb

package: deps $(PACKAGE_BUILD)/CMakeCache.txt
	$(CMAKE) --build $(PACKAGE_BUILD) -j $(JOBS)
	rm -f $(PACKAGE_BUILD)/*.deb
	cd $(PACKAGE_BUILD) && cpack -G DEB
	lintian --fail-on error,warning $(PACKAGE_FILES)
	@echo "package:"; ls $(PACKAGE_FILES)

# AddressSanitizer and UndefinedBehaviorSanitizer over the whole test suite,
# less the install checks (packaging runs none of our code) and the firmware
# label: those tests run gpsim's library, which is not instrumented and whose
# own allocations ASan would judge inside vantrel-picsim, and they pace a chip
# in real time that the sanitizers' slowdown would push off its clock. The
# bridge's own logic (line timing, HEX images, options) is in the unit tests,
# which the run keeps. Any report fails
# the run; leaks that belong to Qt or the system libraries (never to our code)
# are listed, each with its reason, in .ci/lsan.supp.
SANITIZE_BUILD ?= build-sanitize
# ASan holds freed blocks in a quarantine to catch late uses; at its default
# 256 MiB that alone outgrows the bound the noise-flood test puts on resident
# memory, so it is kept at 16 MiB, still many ticks' worth of freed blocks.
SANITIZE_ENV := \
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1:check_initialization_order=1:quarantine_size_mb=16 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/.ci/lsan.supp:print_suppressions=0

$(SANITIZE_BUILD)/CMakeCache.txt:
	$(CMAKE) -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_SANITIZE=ON

sanitize: deps $(SANITIZE_BUILD)/CMakeCache.txt
	$(CMAKE) --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && env $(SANITIZE_ENV) ctest --output-on-failure -j $(JOBS) --timeout 900 -LE 'install|firmware' $(CTEST_ARGS)

# libFuzzer targets (clang, with ASan and UBSan), each run for FUZZ_SECONDS on
# a scratch copy of its seed corpus in fuzz/corpus/<target>/.
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_ALL     := receiver hex_loader hex_download numeric_texts line_sender
FUZZ_TARGETS ?= $(FUZZ_ALL)

$(FUZZ_BUILD)/CMakeCache.txt:
	CC=clang CXX=clang++ $(CMAKE) -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVANTREL_FUZZ=ON -DVANTREL_BUILD_TESTS=OFF

fuzz: deps $(FUZZ_BUILD)/CMakeCache.txt
	$(CMAKE) --build $(FUZZ_BUILD) -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_ALL))
	cd $(FUZZ_BUILD) && ctest -L fuzz-smoke --output-on-failure
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# Speed, processor and memory against their targets (the run fails when one
# is missed), and a ten-minute soak. Real transfers through a pseudo-terminal:
# the 20 ms receive tick sets their pace, so they take minutes.
BENCH_BUILD  ?= build-bench
BENCH_ARGS   ?=
SOAK_SECONDS ?= 600

$(BENCH_BUILD)/CMakeCache.txt:
	$(CMAKE) -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DVANTREL_BUILD_BENCH=ON

bench: deps $(BENCH_BUILD)/CMakeCache.txt
	$(CMAKE) --build $(BENCH_BUILD) -j $(JOBS) --target vantrel_bench
	$(BENCH_BUILD)/bin/vantrel_bench $(BENCH_ARGS)

soak: deps $(BENCH_BUILD)/CMakeCache.txt
	$(CMAKE) --build $(BENCH_BUILD) -j $(JOBS) --target vantrel_bench
	$(BENCH_BUILD)/bin/vantrel_bench --soak=$(SOAK_SECONDS)

# The tracked C++ sources, formatted by .clang-format at the root.
FORMAT_FILES = git ls-files -z '*.cpp' '*.h'

format: deps
	$(FORMAT_FILES) | xargs -0 -r clang-format -i

# Fails, naming each place, when a tracked source is not as `make format` leaves it.
format-check: deps
	$(FORMAT_FILES) | xargs -0 -r clang-format --dry-run -Werror
	@echo "format-check: every tracked C++ source is formatted"

clean:
	rm -rf $(BUILD) build-sanitize build-fuzz build-bench build-package
