# The commands of the README: `make run`, `make test`, `make bench`,
# `make install`.

BUILD      ?= build
BUILD_ASAN ?= build-asan
JOBS       ?= 2
ARGS       ?=

BUILD_PKGS = cmake make g++ libx11-dev libxext-dev libxrandr-dev libxinerama-dev
TEST_PKGS  = $(BUILD_PKGS) googletest libgtest-dev libbenchmark-dev libxtst-dev xvfb xserver-xephyr x11-xkb-utils xauth xdotool x11-apps x11-utils imagemagick man-db groff-base
RUN_PKGS   = $(BUILD_PKGS) xvfb x11-apps x11-utils imagemagick
BENCH_PKGS = $(BUILD_PKGS) libbenchmark-dev

CROSS_PKGS = g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user libx11-dev:arm64 libxext-dev:arm64 libxrandr-dev:arm64 libxinerama-dev:arm64 libgtest-dev:arm64

.PHONY: all run test test-aarch64 bench fuzz programs build build-asan deps-build deps-test install clean

PROGRAMS  = vorbles vorbles-plain
CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

all: build

deps-build:
	@scripts/ensure-packages $(BUILD_PKGS)

deps-test:
	@scripts/ensure-packages $(TEST_PKGS)

# The two programs alone: all that `make run` and `make install` need.
programs: deps-build
	$(CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS) --target $(PROGRAMS)

# Everything, tests and benchmarks included (when their packages are there).
build: deps-build
	$(CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps-test
	cmake -S . -B $(BUILD_ASAN) -DCMAKE_BUILD_TYPE=Debug -DVORBLES_SANITIZE=ON -DVORBLES_BENCH=OFF
	cmake --build $(BUILD_ASAN) -j $(JOBS)

# With a display the window opens; without one the run is recorded on a
# private virtual X server. The program ends with status 1 also when all went
# well (it reports its failures itself), so 1 is no error here.
run:
	@if [ -n "$$DISPLAY" ]; then \
	    $(MAKE) --no-print-directory programs && \
	    { $(BUILD)/vorbles $(ARGS) || [ $$? -eq 1 ]; }; \
	else \
	    scripts/ensure-packages $(RUN_PKGS) && $(MAKE) --no-print-directory programs && \
	    scripts/record --program $(BUILD)/vorbles --out $(BUILD)/vorbles-run -- $(ARGS); \
	fi

test: deps-test
	$(MAKE) --no-print-directory build
	$(MAKE) --no-print-directory build-asan
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure
	cd $(BUILD_ASAN) && ctest -j $(JOBS) --output-on-failure
	$(MAKE) --no-print-directory test-aarch64

# The aarch64 cross build under the user-mode emulator; needs the host build.
test-aarch64: build
	@scripts/ensure-packages $(CROSS_PKGS)
	JOBS=$(JOBS) scripts/test-aarch64 $(BUILD) $(BUILD)-aarch64

# A short run by default; BENCH_FULL=1 sweeps every size and variant.
bench:
	@scripts/ensure-packages $(BENCH_PKGS)
	$(CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	BENCH_FULL="$(BENCH_FULL)" scripts/bench $(BUILD)

# The bitmap layout under libFuzzer for FUZZ_TIME seconds (default 60), from
# the seeds and the inputs that once found faults; new inputs collect in
# build-fuzz/corpus, and a crashing one is written to build-fuzz/. Xlib's
# reader itself reserves (and never touches) 4 GB for some declared sizes,
# or asks for more than there is, which it then reports as a failed read:
# hence the malloc limit above the memory limit, and null for too much.
FUZZ_TIME ?= 60
FUZZ_PKGS  = clang libclang-rt-dev libx11-dev cmake make
fuzz:
	@scripts/ensure-packages $(FUZZ_PKGS)
	cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DVORBLES_FUZZ=ON -DVORBLES_TESTS=OFF -DVORBLES_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS) --target bitmap_fuzz
	mkdir -p build-fuzz/corpus
	cd build-fuzz && ASAN_OPTIONS=allocator_may_return_null=1:quarantine_size_mb=16 ./bitmap_fuzz -max_total_time=$(FUZZ_TIME) -max_len=16384 -close_fd_mask=3 \
	    -rss_limit_mb=4096 -malloc_limit_mb=1048576 -print_final_stats=1 \
	    -dict=../tests/fuzz/xbm.dict \
	    corpus ../tests/fuzz/seeds ../tests/fuzz/regressions

# PREFIX (default /usr/local) and DESTDIR as usual.
install: programs
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD)-aarch64 build-fuzz
