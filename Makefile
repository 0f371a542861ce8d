# The only commands a newcomer needs: make demo, make test, make bench.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
PACKAGES := g++ make cmake pkg-config libjpeg62-turbo-dev libfreetype-dev libfontconfig-dev \
	fontconfig fonts-liberation2 googletest libgtest-dev libbenchmark-dev
NATIVE := build/native/norvisk
# Only for make bench: the tools the whole-process comparison runs against.
BENCH_PACKAGES := gnuplot-nox hyperfine
EXAMPLE_BAR := (Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)

.PHONY: all deps build build-asan demo test bench resources clean

all: build

deps:
	@cmake/install-deps.sh $(PACKAGES)

build: deps
	@cmake --preset native >/dev/null
	@cmake --build --preset native -j$(JOBS) -- --no-print-directory

build-asan: deps
	@cmake --preset native-asan >/dev/null
	@cmake --build --preset native-asan -j$(JOBS)

demo: build
	@mkdir -p out
	@$(NATIVE) bar out/bar.bmp '$(EXAMPLE_BAR)'
	@$(NATIVE) bar out/bar.jpg '$(EXAMPLE_BAR)'
	@$(NATIVE) xy out/xy.bmp '(Jan;10)(Feb;20)(Mar;15)(Apr;12)(May;18)(Jun;25)'
	@$(NATIVE) xy out/xy.jpg '(Jan;10)(Feb;20)(Mar;15)(Apr;12)(May;18)(Jun;25)'
	@$(NATIVE) run examples/quarterly.run
	@echo "Example charts:"; for f in out/bar.bmp out/bar.jpg out/xy.bmp out/xy.jpg \
		out/quarterly.bmp out/quarterly.jpg; do echo "  $$PWD/$$f"; done

test: build build-asan
	@ctest --preset native-asan --timeout 300 -j$(JOBS)
	@ctest --preset native --timeout 300 -j$(JOBS)

bench: build
	@cmake/install-deps.sh $(BENCH_PACKAGES)
	@for b in build/native/bench/*_bench; do echo "== $$b"; $$b --benchmark_min_time=0.2; done
	@echo "== bench/compare_gnuplot.sh"; bench/compare_gnuplot.sh

# Redraws the bitmaps kept in src/resources.
resources: build
	@cmake --build --preset native --target make_resources
	@build/native/make_resources src/resources

clean:
	rm -rf build out
