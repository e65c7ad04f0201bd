# Tunefold: the two commands are `make run` and `make test`.
JOBS      ?= $(shell nproc)
BUILD     ?= build
FUZZ_SECONDS ?= 30

CMAKE_GEN := -G Ninja

.PHONY: all deps build run test test-sanitize test-asan test-tsan fuzz bench format clean

all: build

deps:
	scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: deps build
	scripts/run-demo $(BUILD)

test: deps build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

test-sanitize: test-asan test-tsan

test-asan:
	cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DTUNEFOLD_SANITIZE=address -DTUNEFOLD_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS) --timeout 900

test-tsan:
	cmake -S . -B build-tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTUNEFOLD_SANITIZE=thread -DTUNEFOLD_BENCH=OFF
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
		ctest --output-on-failure -j $(JOBS) --timeout 900 -L threaded

fuzz:
	CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTUNEFOLD_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS)
	scripts/run-fuzzers build-fuzz $(FUZZ_SECONDS)

bench: deps build
	scripts/run-benchmarks $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
