# Entry points. Every target installs what is missing first (Debian packages).
#   make test   sanitizer build and every test
#   make demo   release build, plays the demo tune into demo-out.wav
#   make bench  release build of the benchmarks, then runs them
#   make fuzz   clang build of the fuzzers with ASan/UBSan, each run FUZZ_SECONDS (60)
#   make fuzz-ci  the same, 20 s each
#   make soak   the soak test (hours of looped play in virtual time), not part of make test
JOBS ?= $(shell nproc)
TEST_DIR  := build/test
REL_DIR   := build/release
FUZZ_DIR  := build/fuzz
FUZZ_SECONDS ?= 60
FUZZERS   := JsonRpcLineFuzzer BlockListFuzzer WavHeaderFuzzer
# ccache, when present, makes rebuilds after a small change cheap.
LAUNCHER  := $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

.PHONY: deps test build-test demo build-release bench build-fuzz fuzz fuzz-ci soak clean

deps:
	@bash scripts/install-deps.sh

build-test: deps
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPLAY_SANITIZE=ON -DPLAY_WERROR=ON $(LAUNCHER)
	cmake --build $(TEST_DIR) -j $(JOBS)

test: build-test
	cd $(TEST_DIR) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS)

soak: build-test
	cd $(TEST_DIR) && ctest -C Soak -L soak --output-on-failure

build-release: deps
	cmake -S . -B $(REL_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPLAY_BENCH=ON -DPLAY_TESTS=OFF -DPLAY_WERROR=ON $(LAUNCHER)
	cmake --build $(REL_DIR) -j $(JOBS)

demo: build-release
	$(REL_DIR)/playctl demo --output wav:$(CURDIR)/demo-out.wav

bench: build-release
	@for b in $(REL_DIR)/bench/*; do echo "== $$b"; $$b --benchmark_counters_tabular=true || exit 1; done

build-fuzz: deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DPLAY_SANITIZE=ON \
	  -DPLAY_FUZZ=ON -DPLAY_TESTS=OFF $(LAUNCHER)
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzzers

# Each fuzzer grows its corpus under $(FUZZ_DIR)/corpus from the seeds in
# tests/fuzz/corpus; a crash leaves its input in $(FUZZ_DIR)/artifacts.
fuzz: build-fuzz
	@mkdir -p $(FUZZ_DIR)/artifacts
	@for f in $(FUZZERS); do \
	  echo "== $$f, $(FUZZ_SECONDS) s"; mkdir -p $(FUZZ_DIR)/corpus/$$f; \
	  $(FUZZ_DIR)/fuzz/$$f -max_total_time=$(FUZZ_SECONDS) -timeout=30 -rss_limit_mb=2048 \
	    -artifact_prefix=$(FUZZ_DIR)/artifacts/$$f- -print_final_stats=1 \
	    $(FUZZ_DIR)/corpus/$$f tests/fuzz/corpus/$$f || exit 1; \
	done

fuzz-ci:
	$(MAKE) fuzz FUZZ_SECONDS=20

clean:
	rm -rf build
