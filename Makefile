# Entry points. Every target installs what is missing first (Debian packages).
#   make test   sanitizer build and every test
#   make demo   release build, plays the demo tune into demo-out.wav
#   make bench  release build of the benchmarks, then runs them
JOBS ?= $(shell nproc)
TEST_DIR  := build/test
REL_DIR   := build/release
# ccache, when present, makes rebuilds after a small change cheap.
LAUNCHER  := $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

.PHONY: deps test build-test demo build-release bench clean

deps:
	@bash scripts/install-deps.sh

build-test: deps
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPLAY_SANITIZE=ON -DPLAY_WERROR=ON $(LAUNCHER)
	cmake --build $(TEST_DIR) -j $(JOBS)

test: build-test
	cd $(TEST_DIR) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS)

build-release: deps
	cmake -S . -B $(REL_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPLAY_BENCH=ON -DPLAY_TESTS=OFF -DPLAY_WERROR=ON $(LAUNCHER)
	cmake --build $(REL_DIR) -j $(JOBS)

demo: build-release
	$(REL_DIR)/playctl demo --output wav:$(CURDIR)/demo-out.wav

bench: build-release
	@for b in $(REL_DIR)/bench/*; do echo "== $$b"; $$b --benchmark_counters_tabular=true || exit 1; done

clean:
	rm -rf build
