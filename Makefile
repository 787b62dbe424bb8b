# The two commands a newcomer needs: `make run` and `make test`.
SHELL := /bin/bash
JOBS ?= 2
NATIVE := build/native
WINDOWS := build/windows

.PHONY: all bootstrap build build-native build-windows dist bench test test-native test-windows test-e2e run clean

all: build

bootstrap:
	@scripts/bootstrap

build: bootstrap build-native build-windows

build-native:
	@cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(NATIVE) -j$(JOBS)

build-windows:
	@cmake -S . -B $(WINDOWS) -DCMAKE_BUILD_TYPE=Release --toolchain cmake/mingw-w64.cmake >/dev/null
	@cmake --build $(WINDOWS) -j$(JOBS)

# The installer of the built programs, into build/dist/ (not part of make test; the
# installer's end-to-end tests make their own), and the example browser policy for the EDMS
# origin (EDMS_ORIGIN, default https://edms.example.com). Programs and installer are signed
# with the certificate EDMS_SIGN_PFX or EDMS_SIGN_CERT/EDMS_SIGN_KEY names (default: the test
# certificate), which the build-windows step before pins in the agent.
dist: bootstrap build-windows
	@scripts/make-installer
	@scripts/make-loopback-policy

# Every benchmark in one go and one table (not part of make test). BENCH_SIZE (bytes, default
# 256 MiB), BENCH_IDLE_MINUTES (default 1) and BENCH_REQUESTS (default 2000) choose the load.
bench: build
	@/usr/bin/python3 bench/run_all.py

# Every tier: native unit tests and fuzzers, Windows tests under Wine (one at a time),
# then the end-to-end tests. One tier after the other, also under make -j: the two Wine
# tiers share one prefix, and each also takes the lock below when started on its own.
# flock -o: the tests start Xvfb and wineserver, which outlive the tier; they must not
# inherit the lock, or the next tier waits for them forever.
WINE_TIER_LOCK := build/.wine-tier.lock

test: build
	@$(MAKE) --no-print-directory test-native
	@$(MAKE) --no-print-directory test-windows
	@$(MAKE) --no-print-directory test-e2e

test-native:
	cd $(NATIVE) && ctest -j$(JOBS) --output-on-failure

test-windows:
	@mkdir -p build
	cd $(WINDOWS) && flock -o $(CURDIR)/$(WINE_TIER_LOCK) ctest -j1 --output-on-failure

test-e2e:
	@mkdir -p build
	@flock -o $(WINE_TIER_LOCK) scripts/run-e2e

# scripts/run builds what changed itself and shows the build's output only when it fails.
run: bootstrap
	@scripts/run

clean:
	rm -rf build
