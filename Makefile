# make run   installs what is missing, builds, starts the local engine if it is
#            not running and opens Velmora.
# make test  installs what is missing, builds and runs every test (the engine's
#            tests a second time under AddressSanitizer + UBSan).
# make deb   builds the Debian package velmora-suite_<version>_amd64.deb in
#            $(BUILD)/ and checks it with lintian.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)

.PHONY: deps build run test test-asan deb fuzz bench fresh-check clean

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash scripts/run.sh $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j 2
	$(MAKE) test-asan

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DSUITE_SANITIZE=ON -DSUITE_ENGINE_ONLY=ON >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 ctest --test-dir $(ASAN_BUILD) --output-on-failure -j 2

deb: build
	cd $(BUILD) && cpack -G DEB
	lintian --fail-on error $(BUILD)/velmora-suite_*_amd64.deb
	@ls $(BUILD)/velmora-suite_*_amd64.deb

fuzz:
	@bash scripts/install-deps.sh fuzz
	CXX=clang++ CC=clang cmake -S . -B build-fuzz -DSUITE_FUZZERS=ON -DSUITE_ENGINE_ONLY=ON >/dev/null
	cmake --build build-fuzz -j $(JOBS)

# Runs the README's test command on a clone of HEAD in a minimal Debian 12
# root (needs root; the root is cached between runs).
fresh-check:
	@bash scripts/install-deps.sh fresh
	bash scripts/fresh-check.sh

bench: build
	@bash scripts/install-deps.sh bench
	bash bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz
