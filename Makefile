# Front door: each target installs what it needs (apt-get, through sudo when
# not root) and skips what is already there.
SHELL := /bin/bash
.DEFAULT_GOAL := test

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
BUILD_PACKAGES := cmake ninja-build g++ pkg-config libgtk-3-dev libgtest-dev libgmock-dev \
  libbenchmark-dev
RUN_PACKAGES := fonts-wqy-zenhei fonts-arphic-ukai
FUZZ_PACKAGES := clang libclang-rt-14-dev
# The end-to-end tests: a virtual screen, a user's keyboard and mouse, and an
# outside reader of the live widgets (the accessibility bus).
E2E_PACKAGES := xvfb xdotool dbus at-spi2-core python3-gi gir1.2-atspi-2.0
# The Windows program, cross-built, and its tests under Wine: GoogleTest is
# built from the sources libgtest-dev ships; fonts-wine draws Wine's title
# bars, locales makes the GBK locale that sets Wine's code page to 936.
WINDOWS_PACKAGES := cmake ninja-build g++-mingw-w64-x86-64-posix wine64 libgtest-dev
WINE_TEST_PACKAGES := fonts-wine locales

# $(call install,packages): installs the packages that are missing.
define install
	@missing=""; for p in $(1); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -q && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi
endef

.PHONY: run test deps build asan windows-build bench

deps:
	$(call install,$(BUILD_PACKAGES) $(RUN_PACKAGES) $(FUZZ_PACKAGES) $(E2E_PACKAGES) \
	  $(WINDOWS_PACKAGES) $(WINE_TEST_PACKAGES))

build: deps
	cmake --preset linux
	cmake --build --preset linux

asan: deps
	cmake --preset asan
	cmake --build --preset asan

# Starts the program; its catalogue lies beside it, in build/linux.
run:
	$(call install,$(BUILD_PACKAGES) $(RUN_PACKAGES))
	cmake --preset linux
	cmake --build --preset linux --target quillory
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "make run needs a graphical display, and none is set (DISPLAY is empty)."; \
	  echo "Run it from a desktop session, or start a virtual one first:"; \
	  echo "  Xvfb :1 & DISPLAY=:1 make run"; \
	  exit 1; \
	fi
	build/linux/quillory

windows-build: deps
	cmake --preset windows
	cmake --build --preset windows

# Every test layer: the tests on the normal build, again under the address
# and undefined-behaviour sanitizers, the Windows build's tests under Wine,
# then a bounded fuzzing campaign.
test: build asan windows-build
	ctest --preset linux
	ctest --preset asan
	ctest --preset windows
	fuzz/campaign.sh

bench: build
	build/linux/bench/quillory_bench

# The Windows program, cross-built: build/windows/Quillory.exe, one file that
# needs no installation. The preset also needs what its test programs are
# configured with: Wine (the toolchain runs them) and GoogleTest's sources.
.PHONY: windows
windows:
	$(call install,$(WINDOWS_PACKAGES))
	cmake --preset windows
	cmake --build --preset windows --target Quillory
