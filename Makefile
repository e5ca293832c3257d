# The two commands of the README: `make run` and `make test`.

BUILD      ?= build
BUILD_ASAN ?= build-asan
JOBS       ?= 2
ARGS       ?=

BUILD_PKGS = cmake make g++ libx11-dev libxext-dev
TEST_PKGS  = $(BUILD_PKGS) googletest libgtest-dev libbenchmark-dev xvfb xauth xdotool x11-apps x11-utils imagemagick man-db groff-base
RUN_PKGS   = $(BUILD_PKGS) xvfb x11-apps x11-utils imagemagick

CROSS_PKGS = g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user libx11-dev:arm64 libxext-dev:arm64 libgtest-dev:arm64

.PHONY: all run test bench build build-asan deps-build deps-test install clean

all: build

deps-build:
	@scripts/ensure-packages $(BUILD_PKGS)

deps-test:
	@scripts/ensure-packages $(TEST_PKGS)

build: deps-build
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps-test
	cmake -S . -B $(BUILD_ASAN) -DCMAKE_BUILD_TYPE=Debug -DVORBLES_SANITIZE=ON -DVORBLES_BENCH=OFF
	cmake --build $(BUILD_ASAN) -j $(JOBS)

# With a display the window opens; without one the run is recorded on a
# private virtual X server.
run:
	@if [ -n "$$DISPLAY" ]; then \
	    $(MAKE) --no-print-directory build && ./$(BUILD)/vorbles $(ARGS); \
	else \
	    scripts/ensure-packages $(RUN_PKGS) && $(MAKE) --no-print-directory build && \
	    scripts/record --program $(BUILD)/vorbles --out $(BUILD)/vorbles-run -- $(ARGS); \
	fi

test: deps-test
	$(MAKE) --no-print-directory build
	$(MAKE) --no-print-directory build-asan
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure
	cd $(BUILD_ASAN) && ctest -j $(JOBS) --output-on-failure
	$(MAKE) --no-print-directory test-aarch64

# The aarch64 cross build under the user-mode emulator; needs the host build.
.PHONY: test-aarch64
test-aarch64: build
	@scripts/ensure-packages $(CROSS_PKGS)
	JOBS=$(JOBS) scripts/test-aarch64 $(BUILD) $(BUILD)-aarch64

bench: build
	scripts/bench $(BUILD)

install: build
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD)-aarch64
