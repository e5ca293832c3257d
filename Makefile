# The commands of the README: `make run`, `make test`, `make bench`,
# `make install`.

BUILD      ?= build
BUILD_ASAN ?= build-asan
JOBS       ?= 2
ARGS       ?=

BUILD_PKGS = cmake make g++ libx11-dev libxext-dev
TEST_PKGS  = $(BUILD_PKGS) googletest libgtest-dev libbenchmark-dev xvfb xauth xdotool x11-apps x11-utils imagemagick man-db groff-base
RUN_PKGS   = $(BUILD_PKGS) xvfb x11-apps x11-utils imagemagick
BENCH_PKGS = $(BUILD_PKGS) libbenchmark-dev

CROSS_PKGS = g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user libx11-dev:arm64 libxext-dev:arm64 libgtest-dev:arm64

.PHONY: all run test test-aarch64 bench programs build build-asan deps-build deps-test install clean

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

# PREFIX (default /usr/local) and DESTDIR as usual.
install: programs
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD)-aarch64
