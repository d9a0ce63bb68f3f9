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

MINUTES ?= 20
FUZZ_SECONDS ?= 900
FUZZB   := build/fuzz

.PHONY: all run test deps install uninstall clean bench soak fuzz screenshots package

all:
	@command -v cmake >/dev/null && command -v ninja >/dev/null || scripts/deps
	cmake -S . -B $(RELEASE) -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(RELEASE) -j $(JOBS)
	@ln -sf release/morvane build/morvane

run: deps all
	./build/morvane $(ARGS) $(FILE)

# The sanitizer build runs every test; the clang build and the release build
# with -Werror are compiled too, so that neither compiler nor flavour rots.
# The release package is made just before ctest, for the test that unpacks it.
test: deps
	cmake -S . -B $(DEBUG) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVANE_SANITIZE=ON -DMORVANE_TESTS=ON >/dev/null
	cmake --build $(DEBUG) -j $(JOBS)
	cmake -S . -B $(CLANGB) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DMORVANE_WERROR=ON -DMORVANE_TESTS=ON >/dev/null
	cmake --build $(CLANGB) -j $(JOBS)
	cmake -S . -B $(RELWB) -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_WERROR=ON -DMORVANE_TESTS=ON >/dev/null
	cmake --build $(RELWB) -j $(JOBS)
	$(MAKE) --no-print-directory package
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
	cd $(FUZZB) && ./fuzz_keys -jobs=1 -max_len=512 -timeout=10 \
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
