# make test: install what is missing, build every preset, run every test.
# make fuzz: every fuzz target for FUZZ_SECONDS from a random seed; finds
#   are minimised into fuzz/corpus/ (not part of make test, which replays
#   the corpus and explores a fixed count from a fixed seed).
# make demo: build, pack the example update into an updater, run it under Wine.
# make bench: the performance comparison (not part of make test).
# make package: build/package/ gets the Debian package of wz2 and a zip of
#   wz2.exe for Windows, each with both updater templates.

JOBS ?= $(shell nproc)
PRESETS := host asan fuzz win32 win64

FUZZ_SECONDS ?= 60

.PHONY: test fuzz demo bench package deps deps-base build $(PRESETS:%=build-%) clean

deps:
	@scripts/install-deps

build: deps $(PRESETS:%=build-%)

# A static pattern rule: make skips implicit rules for phony targets, so a
# plain build-% rule would never run.
$(PRESETS:%=build-%): build-%:
	@cmake --preset $* >/dev/null
	@cmake --build --preset $* -j $(JOBS)

# Every test preset runs even when an earlier one failed; the exit status
# is the first failure's. The 32-bit root is made while the first trees
# build, and the win32 scenarios, the longest and mostly on one core, run
# beside the other builds and tests (scripts/test-presets).
test: deps-base
	@scripts/test-presets $(JOBS)

fuzz: deps-base build-fuzz
	@cd build/fuzz && ctest -R '^fuzz_seeds$$' >/dev/null
	@scripts/fuzz hunt $(FUZZ_SECONDS)

# The demo runs the x86_64 updater: it needs no 32-bit root.
demo: build-host build-win64
	@scripts/demo

build-host build-win32 build-win64: deps-base

# The host tree's package is the Debian one, the i686 tree's the zip (the
# 32-bit wz2.exe runs on every Windows); both install every tree's template.
package: build-host build-win32 build-win64
	@cd build/host && cpack -B $(CURDIR)/build/package
	@cd build/win32 && cpack -B $(CURDIR)/build/package
	@ls -1 build/package/*.deb build/package/*.zip

deps-base:
	@WZ2_I386_ROOT=0 scripts/install-deps

bench:
	@WZ2_BENCH_DEPS=1 WZ2_I386_ROOT=0 scripts/install-deps
	@cmake --preset host -DWZ2_BENCH=ON >/dev/null
	@cmake --build --preset host -j $(JOBS)
	@scripts/bench

# A mount below build/ (a scenario's small disk left by a killed run) is
# unmounted by hand, never deleted through.
clean:
	@if findmnt -rn -o TARGET | grep -q '^$(CURDIR)/build/'; then \
	  echo "make clean: something is mounted below build/ (findmnt | grep $(CURDIR)/build); unmount it first" >&2; \
	  exit 1; \
	fi
	rm -rf build
