# Front door: each target installs what it needs (apt-get, through sudo when
# not root) and skips what is already there.
SHELL := /bin/bash
.DEFAULT_GOAL := test

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
BUILD_PACKAGES := cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev
FUZZ_PACKAGES := clang libclang-rt-14-dev

# $(call install,packages): installs the packages that are missing.
define install
	@missing=""; for p in $(1); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -q && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi
endef

.PHONY: test deps build asan fuzz bench

deps:
	$(call install,$(BUILD_PACKAGES) $(FUZZ_PACKAGES))

build: deps
	cmake --preset linux
	cmake --build --preset linux

asan: deps
	cmake --preset asan
	cmake --build --preset asan

# Every test layer: the tests on the normal build, again under the address
# and undefined-behaviour sanitizers, then a bounded fuzzing campaign.
test: build asan
	ctest --preset linux
	ctest --preset asan
	fuzz/campaign.sh

bench: build
	build/linux/bench/quillory_bench
