# The only commands a newcomer needs: make demo, make test, make bench.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
PACKAGES := g++ make cmake pkg-config libjpeg62-turbo-dev libfreetype-dev libfontconfig-dev \
	fontconfig fonts-liberation2 googletest libgtest-dev libbenchmark-dev python3 libboost-dev \
	clang-format nginx-light libisal-dev zlib1g-dev pngcheck php-cli chromium nodejs
# npm comes with Debian's package, or within a nodejs of another origin (which the package would
# conflict with).
NPM_PACKAGE = $(shell command -v npm >/dev/null || echo npm)
# The Windows build: cross compilers, Wine to run what they build, Xvfb for windows, what the
# source builds of libjpeg-turbo and ISA-L need (nasm for their SIMD code, xz for ISA-L's
# tarball), and zlib for the tests to read PNG files back.
WINDOWS_PACKAGES := mingw-w64 mingw-w64-tools gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix \
	wine wine64 libwine-dev nasm xz-utils xvfb xauth dpkg-dev googletest libz-mingw-w64-dev
JPEG_MINGW := build/deps/libjpeg-turbo-mingw
ISAL_MINGW := build/deps/isal-mingw
BENCHMARK_MINGW := build/deps/benchmark-mingw
NATIVE := build/native/norvisk
# Only for make fuzz: clang with libFuzzer and its sanitizer run-times (llvm for the symbolizer).
FUZZ_PACKAGES := clang libclang-rt-dev llvm
FUZZ_SECONDS ?= 60
# Only for make bench: the tools the whole-process comparison runs against, and libdeflate for
# the PNG benchmark's comparison of compression libraries.
BENCH_PACKAGES := gnuplot-nox hyperfine libpython3-dev wrk libdeflate-dev
# make install / make uninstall: PREFIX and DESTDIR as usual.
PREFIX ?= /usr/local
DESTDIR ?=
EXAMPLE_BAR := (Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)

.PHONY: all deps deps-native deps-windows build build-asan build-tsan build-fuzz build-windows \
	test-windows demo doc-pictures test fuzz bench bench-windows resources clean install uninstall \
	format check-format

all: build

deps: deps-native deps-windows

deps-native:
	@cmake/install-deps.sh $(PACKAGES) $(NPM_PACKAGE)

deps-windows:
	@cmake/install-deps.sh $(WINDOWS_PACKAGES)
	@cmake/build-libjpeg-turbo.sh $(JPEG_MINGW)
	@cmake/build-isal.sh $(ISAL_MINGW)

build: deps-native
	@cmake --preset native >/dev/null
	@cmake --build --preset native -j$(JOBS) -- --no-print-directory

build-asan: deps-native
	@cmake --preset native-asan >/dev/null
	@cmake --build --preset native-asan -j$(JOBS)

# Only the tests that use threads (<unit>_threads_test.cpp), under ThreadSanitizer.
build-tsan: deps-native
	@cmake --preset native-tsan >/dev/null
	@cmake --build --preset native-tsan -j$(JOBS)

build-fuzz: deps-native
	@cmake/install-deps.sh $(FUZZ_PACKAGES)
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j$(JOBS) --target fuzz_targets

# Every fuzz target for FUZZ_SECONDS; fails on any crash, leak or timeout (cmake/run-fuzz.sh).
fuzz: build-fuzz
	@FUZZ_SECONDS=$(FUZZ_SECONDS) cmake/run-fuzz.sh

demo: build
	@mkdir -p out
	@$(NATIVE) bar out/bar.bmp '$(EXAMPLE_BAR)'
	@$(NATIVE) bar out/bar.jpg '$(EXAMPLE_BAR)'
	@$(NATIVE) xy out/xy.bmp '(Jan;10)(Feb;20)(Mar;15)(Apr;12)(May;18)(Jun;25)'
	@$(NATIVE) xy out/xy.jpg '(Jan;10)(Feb;20)(Mar;15)(Apr;12)(May;18)(Jun;25)'
	@$(NATIVE) bar out/bar.png '$(EXAMPLE_BAR)'
	@$(NATIVE) xy out/xy.png '(Jan;10)(Feb;20)(Mar;15)(Apr;12)(May;18)(Jun;25)'
	@$(NATIVE) run examples/quarterly.run
	@PYTHONPATH=python NORVISK_LIBRARY=build/native/libnorvisk.so.1 PYTHONDONTWRITEBYTECODE=1 \
		python3 examples/chart.py out
	@echo "Example charts:"; for f in out/bar.bmp out/bar.jpg out/bar.png out/xy.bmp out/xy.jpg \
		out/xy.png out/quarterly.bmp out/quarterly.jpg out/python-bar.jpg out/python-xy.bmp; do \
		echo "  $$PWD/$$f"; done

# The README's example charts, doc/bar.png and doc/xy.png (kept in git; a test compares their
# pixels with a fresh render).
doc-pictures: build
	@cmake/doc-pictures.sh $(NATIVE) doc

build-windows: deps-windows
	@cmake --preset windows >/dev/null
	@cmake --build --preset windows -j$(JOBS) -- --no-print-directory

# The Windows tests run under Wine in one fresh prefix per run, under the build folder. A Wine
# process now and then never exits after its test has passed when the machine is loaded; such a
# test (and only one that timed out) is run once more.
test-windows: build-windows
	@cmake/wine-session.sh build/windows/wine cmake/run-ctest.sh windows \
		build/windows/test-report.xml --test-dir build/windows --timeout 300 -j$(JOBS) \
		--repeat after-timeout:2

# Formats the C and C++ sources as .clang-format says; make test fails on any that are not.
format: deps-native
	@cmake/format.sh

check-format: deps-native
	@cmake/format.sh --check

# Each suite ends with how many tests ran, failed and were skipped, and why each was skipped.
test: check-format build build-asan build-tsan build-windows
	@cmake/run-ctest.sh native-asan build/native-asan/test-report.xml --preset native-asan \
		--timeout 300 -j$(JOBS)
	@cmake/run-ctest.sh native-tsan build/native-tsan/test-report.xml --preset native-tsan \
		--timeout 300 -j$(JOBS)
	@cmake/run-ctest.sh native build/native/test-report.xml --preset native --timeout 300 -j$(JOBS)
	@$(MAKE) --no-print-directory test-windows

bench: build bench-windows
	@cmake/install-deps.sh $(BENCH_PACKAGES)
	@# capi_bench embeds Python once its headers are there; png_bench compares libdeflate once it is.
	@cmake --preset native >/dev/null && cmake --build --preset native -j$(JOBS) --target capi_bench png_bench -- --no-print-directory
	@for b in build/native/bench/*_bench; do echo "== $$b"; $$b --benchmark_min_time=0.2; done
	@echo "== bench/compare_gnuplot.sh"; bench/compare_gnuplot.sh
	@echo "== bench/serve_wrk.sh"; bench/serve_wrk.sh
	@echo "== bench/run_com_bench.sh"; bench/run_com_bench.sh
	@echo "== bench/run_control_bench.sh"; bench/run_control_bench.sh

# The Windows build with its benchmark, which needs Google Benchmark built for mingw.
bench-windows: deps-windows
	@cmake/build-benchmark-mingw.sh $(BENCHMARK_MINGW)
	@cmake --preset windows -DNORVISK_BENCH=ON -Dbenchmark_DIR=$(CURDIR)/$(BENCHMARK_MINGW)/lib/cmake/benchmark >/dev/null
	@cmake --build --preset windows -j$(JOBS) -- --no-print-directory

# The command, libnorvisk with norvisk.h, its pkg-config file and CMake package, the Python
# module and the manual page; uninstall removes what the last install put there.
install: build
	@DESTDIR="$(DESTDIR)" cmake/install.sh build/native "$(PREFIX)" build/native/installed-files.txt

uninstall:
	@cmake/uninstall.sh build/native/installed-files.txt

# Redraws the bitmaps kept in src/resources.
resources: build
	@cmake --build --preset native --target make_resources
	@build/native/make_resources src/resources

clean:
	rm -rf build out
