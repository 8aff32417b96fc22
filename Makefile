# make test: install what is missing, build every preset, run every test.
# make demo: build, pack the example update into an updater, run it under Wine.
# make bench: the performance comparison (not part of make test).
# make package: build/package/ gets the Debian package of wz2 and a zip of
#   wz2.exe for Windows, each with both updater templates.

JOBS ?= $(shell nproc)
PRESETS := host asan fuzz win32 win64
TEST_PRESETS := host asan fuzz win64 win32

.PHONY: test demo bench package deps deps-base build $(PRESETS:%=build-%) clean

deps:
	@scripts/install-deps

build: deps $(PRESETS:%=build-%)

# A static pattern rule: make skips implicit rules for phony targets, so a
# plain build-% rule would never run.
$(PRESETS:%=build-%): build-%:
	@cmake --preset $* >/dev/null
	@cmake --build --preset $* -j $(JOBS)

# Every test preset runs even when an earlier one failed; the exit status
# is the first failure's.
test: build
	@status=0; for p in $(TEST_PRESETS); do \
	  echo "== ctest --preset $$p"; \
	  ctest --preset $$p -j $(JOBS) || status=1; \
	done; exit $$status

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

clean:
	rm -rf build
