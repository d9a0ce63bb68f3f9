# The commands people type; CMake and Ninja do the work.
PREFIX  ?= /usr/local
DESTDIR ?=
FILE    ?=
ARGS    ?=
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)

RELEASE := build/release
DEBUG   := build/debug
BENCHB  := build/bench
CLANGB  := build/clang
RELWB   := build/release-werror
LINTB   := build/lint

MINUTES ?= 20
FUZZ_SECONDS ?= 900
FUZZB   := build/fuzz

.PHONY: all run test deps install uninstall clean bench soak fuzz screenshots package \
        lint lint-format lint-cppcheck lint-tidy

all:
	@command -v cmake >/dev/null && command -v ninja >/dev/null || scripts/deps
	cmake -S . -B $(RELEASE) -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(RELEASE) -j $(JOBS)
	@ln -sf release/morvane build/morvane

run: deps all
	./build/morvane $(ARGS) $(FILE)

# The sanitizer build runs every test; the clang build and the release build
# with -Werror are compiled too, so that neither compiler nor flavour rots.
# The release package is made just before ctest, for the test that unpacks it;
# the static checks run after the builds, so a compile error is reported first.
test: deps
	cmake -S . -B $(DEBUG) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVANE_SANITIZE=ON -DMORVANE_TESTS=ON >/dev/null
	cmake --build $(DEBUG) -j $(JOBS)
	cmake -S . -B $(CLANGB) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DMORVANE_WERROR=ON -DMORVANE_TESTS=ON >/dev/null
	cmake --build $(CLANGB) -j $(JOBS)
	cmake -S . -B $(RELWB) -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_WERROR=ON -DMORVANE_TESTS=ON >/dev/null
	cmake --build $(RELWB) -j $(JOBS)
	$(MAKE) --no-print-directory package
	$(MAKE) --no-print-directory lint
	cd $(DEBUG) && ctest --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B $(BENCHB) -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BENCH=ON >/dev/null
	cmake --build $(BENCHB) -j $(JOBS)
	./$(BENCHB)/morvane_bench

# The README's images: the scenes played in the sanitizer build's program,
# rendered to docs/*.svg (ctest checks that the committed ones are current).
screenshots: deps
	cmake -S . -B $(DEBUG) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVANE_SANITIZE=ON -DMORVANE_TESTS=ON >/dev/null
	cmake --build $(DEBUG) -j $(JOBS) --target screenshots
	mkdir -p docs
	./$(DEBUG)/screenshots docs

deps:
	@scripts/deps

# Static checks; any finding fails. Formatting over every C++ file; cppcheck
# and clang-tidy (.clang-tidy) over src/, clang-tidy from the compile commands
# of a configure-only clang build. The tests stay out of clang-tidy: with
# GoogleTest's headers they take it from one minute to a quarter of an hour.
CXX_FILES = $(shell find src tests bench fuzz -name '*.cpp' -o -name '*.h' | sort)
TIDY_FILES = $(wildcard src/*.cpp)

lint: deps lint-format lint-cppcheck lint-tidy

lint-format:
	clang-format --dry-run -Werror $(CXX_FILES)

# Left out: useStlAlgorithm (a raw loop over a small key table reads as well
# as std::find_if) and, in keys.cpp, unusedStructMember (cppcheck does not see
# the bindings' members read through the lookup template).
lint-cppcheck:
	cppcheck --quiet --error-exitcode=1 --inline-suppr --std=c++20 --language=c++ -j $(JOBS) \
	    --enable=warning,performance,portability,style \
	    --suppress=missingIncludeSystem --suppress=useStlAlgorithm \
	    --suppress=unusedStructMember:src/keys.cpp \
	    -I src -D_FILE_OFFSET_BITS=64 -DNCURSES_WIDECHAR=1 src/*.cpp

# run-clang-tidy (Debian's clang-tidy has it) prints each file's findings
# together; xargs is the fallback where it is missing.
lint-tidy:
	cmake -S . -B $(LINTB) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
	    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
	@if command -v run-clang-tidy >/dev/null; then \
	    run-clang-tidy -quiet -j $(JOBS) -p $(LINTB) $(addprefix $(CURDIR)/,$(TIDY_FILES)); \
	else \
	    printf '%s\n' $(TIDY_FILES) | xargs -n 1 -P $(JOBS) clang-tidy --quiet -p $(LINTB); \
	fi

# The storm tests over and over with fresh seeds for MINUTES.
soak: deps
	cmake -S . -B $(DEBUG) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVANE_SANITIZE=ON -DMORVANE_TESTS=ON >/dev/null
	cmake --build $(DEBUG) -j $(JOBS) --target e2e_tests
	scripts/soak $(DEBUG)/e2e_tests $(MINUTES)

# Key streams into the editor on a null terminal (libFuzzer, one core).
fuzz:
	@scripts/deps fuzz
	cmake -S . -B $(FUZZB) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DMORVANE_SANITIZE=ON -DMORVANE_FUZZ=ON >/dev/null
	cmake --build $(FUZZB) -j $(JOBS) --target fuzz_keys
	mkdir -p $(FUZZB)/corpus
	cd $(FUZZB) && ./fuzz_keys -jobs=1 -max_len=512 -timeout=10 -dict=$(CURDIR)/fuzz/keys.dict \
	    -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=$(CURDIR)/$(FUZZB)/ corpus $(CURDIR)/fuzz/seeds; \
	    status=$$?; tail -n 3 fuzz-0.log; exit $$status

# The Debian package of the release build, left in $(RELEASE).
package: all
	@command -v dpkg-shlibdeps >/dev/null || scripts/deps
	cd $(RELEASE) && cpack -G DEB

install: all
	DESTDIR=$(DESTDIR) cmake --install $(RELEASE) --prefix $(PREFIX)

# Removes the files the last `make install` recorded in the release build's
# manifest; give it the DESTDIR that install was given.
uninstall:
	scripts/uninstall $(RELEASE)/install_manifest.txt "$(DESTDIR)"

clean:
	rm -rf build
