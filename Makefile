# Two commands for a newcomer: `make demo` (the tools at work in a headless desktop session) and
# `make test` (everything CI checks). Each installs what is missing, configures and builds first;
# re-running rebuilds only what changed.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)
OS         := $(shell uname -s)
CMAKE_ARGS ?=
# Expanded when used, so that a ninja that `deps` has just installed is found.
GENERATOR   = $(shell command -v ninja >/dev/null 2>&1 && echo -G Ninja)

.PHONY: all deps build build-asan test unit-asan demo bench fuzz format install clean

all: build

deps:
	@scripts/bootstrap test

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

$(ASAN_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(ASAN_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DENABLE_SANITIZERS=ON $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# Apple's AddressSanitizer has no leak checker and rejects detect_leaks; Apple clang has no libFuzzer.
ifeq ($(OS),Darwin)
ASAN_OPTIONS_TEST = abort_on_error=1
FUZZ_STEP = @echo "make test: skipped on macOS: fuzzing (no libFuzzer in Apple clang), the end-to-end, format and type-check tests and the in-memory AX tests (they need Linux)"
else
ASAN_OPTIONS_TEST = detect_leaks=1:abort_on_error=1
FUZZ_STEP = scripts/fuzz $${FUZZ_SECONDS:-30}
endif

# The sanitizer build's unit and macOS-glue tests and a short fuzz pass first, then the full suite
# (unit, end-to-end, format, macOS glue) of the normal build, whose ctest summary is the last line.
test: build build-asan
	ASAN_OPTIONS=$(ASAN_OPTIONS_TEST) UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) -L 'unit|mac' --output-on-failure -j $(JOBS)
	$(FUZZ_STEP)
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	scripts/demo $(BUILD)/bin

bench: deps
	cmake -S . -B $(BUILD)-bench $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DBUILD_BENCHMARKS=ON $(CMAKE_ARGS)
	cmake --build $(BUILD)-bench -j $(JOBS)
	scripts/bench $(BUILD)-bench

fuzz: deps
	scripts/fuzz $${FUZZ_SECONDS:-30}

format:
	git ls-files '*.cc' '*.h' '*.mm' | xargs clang-format -i

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BUILD)-bench
