# Entry points. Every target installs what is missing first (Debian packages).
#   make test   sanitizer build and every test (private sound servers for the device tests)
#   make tsan   ThreadSanitizer build of the server, the device tests and the library's thread tests
#   make demo   release build, plays the demo tune on the sound card and into demo-out.wav
#   make bench  release build of the benchmarks, then runs them
#   make fuzz   clang build of the fuzzers with ASan/UBSan, each run FUZZ_SECONDS (60)
#   make fuzz-ci  the same, 20 s each
#   make soak   the soak tests (hours of looped play in virtual time; a minute of play per
#               sound system beside two busy processes), not part of make test
#   make bench-compare  whole jobs against cp and SoX (installs sox)
#   make build-release-tests  release build of everything, tests and benchmarks
#               included (compiled, not run), as a user's plain release build
#   make install [PREFIX=/usr/local]   release build, installed under PREFIX
#   make deb    release build, packed as a Debian package in build/release
JOBS ?= $(shell nproc)
TEST_DIR  := build/test
REL_DIR   := build/release
TSAN_DIR  := build/tsan
REL_TESTS_DIR := build/release-tests
FUZZ_DIR  := build/fuzz
FUZZ_SECONDS ?= 60
FUZZERS   := JsonRpcLineFuzzer BlockListFuzzer WavHeaderFuzzer
# ccache, when present, makes rebuilds after a small change cheap.
LAUNCHER  := $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

PREFIX    ?= /usr/local

.PHONY: deps test build-test tsan demo build-release build-release-tests bench bench-compare install deb build-fuzz fuzz fuzz-ci soak clean

deps:
	@bash scripts/install-deps.sh

build-test: deps
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPLAY_SANITIZE=ON -DPLAY_WERROR=ON $(LAUNCHER)
	cmake --build $(TEST_DIR) -j $(JOBS)

# The device tests play into private sound servers (PulseAudio, PipeWire,
# JACK, an ALSA configuration), started here and ended whatever the tests'
# outcome.
test: build-test
	@eval "$$(scripts/sound-servers.sh start)"; \
	  (cd $(TEST_DIR) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS)); status=$$?; \
	  scripts/sound-servers.sh stop; exit $$status

# ThreadSanitizer over the threads: the sound card path (playsrv and the
# device tests, with a queue that outlasts the sanitizer's stalls; the timing
# bounds grow by as much) and libplaydll's loop and event threads against
# host threads.
tsan: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPLAY_TSAN=ON -DPLAY_WERROR=ON $(LAUNCHER)
	cmake --build $(TSAN_DIR) -j $(JOBS) --target playsrv soundservice test_device test_embed
	@eval "$$(scripts/sound-servers.sh start)"; \
	  (cd $(TSAN_DIR) && PLAY_TEST_LATENCY_MS=200 TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/device/tsan.supp" ctest -C Tsan --output-on-failure -L 'device|threads'); \
	  status=$$?; scripts/sound-servers.sh stop; exit $$status

soak: build-test
	@eval "$$(scripts/sound-servers.sh start)"; \
	  (cd $(TEST_DIR) && ctest -C Soak -L soak --output-on-failure); status=$$?; \
	  scripts/sound-servers.sh stop; exit $$status

build-release: deps
	cmake -S . -B $(REL_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPLAY_BENCH=ON -DPLAY_TESTS=OFF -DPLAY_WERROR=ON $(LAUNCHER)
	cmake --build $(REL_DIR) -j $(JOBS)

build-release-tests: deps
	cmake -S . -B $(REL_TESTS_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPLAY_TESTS=ON -DPLAY_BENCH=ON -DPLAY_WERROR=ON $(LAUNCHER)
	cmake --build $(REL_TESTS_DIR) -j $(JOBS)

demo: build-release
	@if $(REL_DIR)/playsrv --list-devices >/dev/null 2>&1; then out=device,; else out=; echo "no sound device: writing demo-out.wav only"; fi; \
	  $(REL_DIR)/playctl demo --output $${out}wav:$(CURDIR)/demo-out.wav

bench: build-release
	@eval "$$(scripts/sound-servers.sh start)"; status=0; \
	  for b in $(REL_DIR)/bench/*; do echo "== $$b"; $$b --benchmark_counters_tabular=true || { status=1; break; }; done; \
	  scripts/sound-servers.sh stop; exit $$status

bench-compare: build-release
	bash bench/compare.sh $(REL_DIR)

install: build-release
	cmake --install $(REL_DIR) --prefix $(PREFIX)

deb: build-release
	cd $(REL_DIR) && cpack -G DEB

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
