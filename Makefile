# Tunefold: the two commands are `make run` and `make test`.
JOBS      ?= $(shell nproc)
BUILD     ?= build
FUZZ_SECONDS ?= 30
PREFIX    ?= /usr/local
DESTDIR   ?=

CMAKE_GEN := -G Ninja

.PHONY: all deps build run test test-sanitize test-asan test-tsan fuzz bench install uninstall format clean

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

# install: the programs, the decoder library, the program's data, the desktop entry and the icons
# (cmake/install.cmake has the list) under $(PREFIX), staged below $(DESTDIR) when it is set.
install:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(BUILD) -j $(JOBS)
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD)
	printf '%s\n' "$(DESTDIR)" >$(BUILD)/install_destdir.txt
	$(call refresh-desktop-caches,$(PREFIX))

# uninstall: removes every file the last install from $(BUILD) listed in its install_manifest.txt,
# below the same $(DESTDIR) as that install (it refuses another).
uninstall:
	DESTDIR="$(DESTDIR)" scripts/uninstall $(BUILD)/install_manifest.txt $(BUILD)/install_destdir.txt
	$(call refresh-desktop-caches,$(INSTALLED_PREFIX))

# The prefix the build was last installed with, for the caches after an uninstall.
INSTALLED_PREFIX = $(or $(shell sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' $(BUILD)/CMakeCache.txt 2>/dev/null),$(PREFIX))

# The menus and the icon theme under prefix $(1) learn of the change, when the tools are there and
# the files went to the live system rather than into a staging folder.
define refresh-desktop-caches
@if [ -z "$(DESTDIR)" ]; then \
	if command -v update-desktop-database >/dev/null 2>&1 && [ -d "$(1)/share/applications" ]; then \
		update-desktop-database -q "$(1)/share/applications" || true; fi; \
	if command -v gtk-update-icon-cache >/dev/null 2>&1 && [ -d "$(1)/share/icons/hicolor" ]; then \
		gtk-update-icon-cache -q -t -f "$(1)/share/icons/hicolor" || true; fi; \
fi
endef

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
