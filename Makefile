# wyn: the two commands a new machine needs are `make run` and `make test`.
#
#   make run     install what is missing, build wyn, run it on examples/demo
#   make test    build with AddressSanitizer + UBSan, run every test
#   make tsan    build with ThreadSanitizer, run the concurrency tests
#   make bench   build optimised, run the benchmarks
#   make fuzz    run every fuzz target for FUZZ_SECONDS (default 60)
#   make deps    only install (or name) the missing packages
#   make fonts   put the demo site's fonts, icon font and pictures in place
#   make screenshots  photograph the demo's pages in headless Chromium
#   make windows       cross-compile a static wyn.exe and the tests (mingw-w64)
#   make test-windows  run them under wine, and compare its pages with Linux's

SHELL := /bin/bash
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 60
CMAKE_FLAGS := -G Ninja

.PHONY: run build test tsan bench fuzz deps fonts screenshots clean windows test-windows

deps:
	@./tools/deps.sh

build: deps
	cmake -S . -B build/release $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release -DWYN_TESTS=OFF
	cmake --build build/release -j $(JOBS) --target wyn

fonts: deps
	./tools/fonts.sh

run: build fonts
	cd examples/demo && ../../build/release/wyn

test: deps fonts
	cmake -S . -B build/asan $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DWYN_SANITIZE=address,undefined
	cmake --build build/asan -j $(JOBS)
	cd build/asan && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

tsan: deps
	cmake -S . -B build/tsan $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWYN_SANITIZE=thread
	cmake --build build/tsan -j $(JOBS)
	cd build/tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure -L concurrency -j $(JOBS) --no-tests=ignore

bench: deps
	cmake -S . -B build/bench $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release -DWYN_TESTS=OFF -DWYN_BENCH=ON
	cmake --build build/bench -j $(JOBS)
	@for b in build/bench/*_bench; do echo "== $$b"; $$b || exit 1; done

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build/fuzz $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DWYN_TESTS=OFF -DWYN_FUZZ=ON -DWYN_SANITIZE=address,undefined
	cmake --build build/fuzz -j $(JOBS)
	@set -e; shopt -s nullglob; for f in build/fuzz/*_fuzz; do \
	  name=$$(basename $$f _fuzz); corpus=tests/fuzz/corpus/$$name; work=build/fuzz/corpus-$$name; \
	  mkdir -p $$work; echo "== $$name for $(FUZZ_SECONDS) s"; \
	  ASAN_OPTIONS=detect_leaks=0 $$f -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=4096 \
	    -print_final_stats=1 $$work $$corpus || exit 1; done

screenshots: fonts
	/usr/bin/python3 tools/screenshots.py examples/demo/local/html build/screenshots

# wine keeps its prefix (its C: drive and registry) inside the build folder,
# never in the user's home.
WINE_ENV := WINEPREFIX=$(CURDIR)/build/windows/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

windows:
	@./tools/deps.sh windows
	cmake -S . -B build/windows $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DWYN_LINUX_BINARY=$(CURDIR)/build/release/wyn
	cmake --build build/windows -j $(JOBS)

# The Linux wyn of `make build` is the reference the pages are compared with.
# One wine server for the whole run, its own notices (about file watches it
# lost track of) sent nowhere: a server started by a test's wine would print
# them into that test's standard error.
test-windows: windows build
	mkdir -p build/windows/wine
	$(WINE_ENV) wineserver -k >/dev/null 2>&1 || true
	$(WINE_ENV) wineserver -p >/dev/null 2>&1
	$(WINE_ENV) wineboot -i >/dev/null 2>&1 || true
	cd build/windows && $(WINE_ENV) ctest --output-on-failure -j $(JOBS); status=$$?; \
	  $(WINE_ENV) wineserver -k >/dev/null 2>&1; exit $$status

clean:
	rm -rf build
