# The project's commands. Every target installs the Debian packages it needs first
# (scripts/bootstrap checks before it installs, so it is quick on a ready machine).

JOBS ?= $(shell nproc)
CMAKE_GEN := -G Ninja
CTEST := ctest --output-on-failure --timeout 600 -j $(JOBS)

.PHONY: all bootstrap build test test-release test-asan test-tsan bench demo clean

all: build

bootstrap:
	@scripts/bootstrap

build/build.ninja: CMakeLists.txt | bootstrap
	cmake -S . -B build $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release

build: bootstrap build/build.ninja
	cmake --build build -j $(JOBS)

test: test-release test-asan test-tsan
	@echo "make test: all suites passed"

test-release: build
	cd build && $(CTEST)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: bootstrap
	cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNIX_SANITIZE=address -DVARNIX_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 $(CTEST)

# The programs that start threads, under ThreadSanitizer.
test-tsan: bootstrap
	cmake -S . -B build-tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNIX_SANITIZE=thread -DVARNIX_BENCH=OFF
	cmake --build build-tsan -j $(JOBS) --target threaded_tests
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 $(CTEST) -L threaded

bench: build
	scripts/run-benchmarks build

# Segments the bundled sample photo from its markers file and writes the mask and the cut-out.
demo: build
	@mkdir -p out
	build/varnix-cli segment samples/coffee.png --markers samples/coffee.vnx --aa soft \
	  --out out/coffee-mask.png --cutout out/coffee-cutout.png
	@echo "demo: wrote out/coffee-mask.png (the soft mask) and out/coffee-cutout.png (the photo with the mask as alpha)"

clean:
	rm -rf build build-asan build-tsan
