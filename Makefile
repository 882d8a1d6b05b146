# The two commands of the README: `make run` and `make test`. Each does its own set-up.
JOBS ?= $(shell nproc)
CMAKE ?= cmake
FUZZ_SECONDS ?= 60

.PHONY: all deps build test unit asan tsan fuzz bench run run-build demo clean

all: build

deps:
	@tools/install-deps.sh build

build: deps
	@$(CMAKE) -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@$(CMAKE) --build build -j$(JOBS)

unit: build
	cd build && ctest --output-on-failure -j$(JOBS)

asan: deps
	@$(CMAKE) -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=address,undefined >/dev/null
	@$(CMAKE) --build build/asan -j$(JOBS)
	cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j$(JOBS) -L unit -LE noasan

tsan: deps
	@$(CMAKE) -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE=thread >/dev/null
	@$(CMAKE) --build build/tsan -j$(JOBS)
	cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j$(JOBS) -L tsan

test: unit asan tsan
	@echo "all test runs passed"

fuzz:
	@tools/install-deps.sh fuzz
	@CC=clang CXX=clang++ $(CMAKE) -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFUZZ=ON \
	  -DSANITIZE=address,undefined >/dev/null
	@$(CMAKE) --build build/fuzz -j$(JOBS) --target fuzzers
	@set -e; for t in build/fuzz/tests/fuzz/fuzz_*; do \
	  name=$${t##*/fuzz_}; mkdir -p build/fuzz/corpus/$$name build/fuzz/crashes/$$name; \
	  echo "== fuzzing $$name for $(FUZZ_SECONDS)s"; \
	  $$t -max_total_time=$(FUZZ_SECONDS) -timeout=30 -print_final_stats=1 \
	    -artifact_prefix=build/fuzz/crashes/$$name/ build/fuzz/corpus/$$name tests/fuzz/corpus/$$name \
	    || { echo "fuzz target $$name failed; the input is in build/fuzz/crashes/$$name/"; exit 1; }; \
	done

bench: 
	@tools/install-deps.sh bench
	@$(CMAKE) -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@$(CMAKE) --build build -j$(JOBS)
	@$(CMAKE) --build build -j$(JOBS) --target startup_floor
	@set -e; for b in tools/bench/*.sh build/tests/bench/*_bench; do \
	  [ -x "$$b" ] || continue; echo "== $$b"; "$$b"; done

# Only what the client needs: its packages, and the kestrin target with what it carries and what
# goes beside it (resources, skins, pages, the movie and its player, the browser extension); no
# test peer and no test. RUN_BUILD is the folder it builds in; a test builds the same in one of
# its own and plays a movie with it.
RUN_BUILD ?= build

run: run-build
	@if [ -x $(RUN_BUILD)/app/kestrin ]; then KESTRIN_CLIENT=$(RUN_BUILD)/app/kestrin tools/run-client.sh; \
	else echo "The client is not built: see the build output above."; fi

run-build:
	@tools/install-deps.sh run
	@$(CMAKE) -S . -B $(RUN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@$(CMAKE) --build $(RUN_BUILD) -j$(JOBS) --target kestrin

demo: build
	@if [ -z "$$DISPLAY" ]; then echo "make demo needs a desktop: set DISPLAY (see the README)"; exit 1; fi
	build/platform/gtk/gtk_demo

clean:
	rm -rf build
