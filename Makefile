# The commands people type; CMake and Ninja do the work.
PREFIX  ?= /usr/local
DESTDIR ?=
FILE    ?=
ARGS    ?=
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)

RELEASE := build/release
DEBUG   := build/debug
BENCHB  := build/bench

.PHONY: all run test deps install clean bench

all:
	@command -v cmake >/dev/null && command -v ninja >/dev/null || scripts/deps
	cmake -S . -B $(RELEASE) -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(RELEASE) -j $(JOBS)
	@ln -sf release/morvane build/morvane

run: deps all
	./build/morvane $(ARGS) $(FILE)

test: deps
	cmake -S . -B $(DEBUG) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVANE_SANITIZE=ON -DMORVANE_TESTS=ON >/dev/null
	cmake --build $(DEBUG) -j $(JOBS)
	cd $(DEBUG) && ctest --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B $(BENCHB) -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BENCH=ON >/dev/null
	cmake --build $(BENCHB) -j $(JOBS)
	./$(BENCHB)/morvane_bench

deps:
	@scripts/deps

install: all
	DESTDIR=$(DESTDIR) cmake --install $(RELEASE) --prefix $(PREFIX)

clean:
	rm -rf build
