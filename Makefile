# The README's commands: `make run` and `make test`, and `make bench`,
# `make install`, `make deb`, `make fuzz`, `make test-aarch64`,
# `make test-cross ARCH=s390x` (or ppc64el). The builds
# are the presets of CMakePresets.json. Each step prints one line and keeps
# its output in a log under the build folder, shown when the step fails;
# V=1 shows everything.

BUILD       ?= build
BUILD_ASAN  ?= build-asan
ARCH        ?= aarch64
BUILD_CROSS ?= $(BUILD)-$(ARCH)
BUILD_FUZZ  ?= build-fuzz
JOBS        ?= 2
ARGS        ?=
V           ?= 0
export V

# Debian's names; the README also gives Fedora's and Arch's. The checks only
# help: without dpkg, or without root, the build goes on to CMake.
BUILD_PKGS = cmake make g++ libx11-dev libxext-dev libxrandr-dev libxinerama-dev
TEST_PKGS  = $(BUILD_PKGS) googletest libgtest-dev libbenchmark-dev libxtst-dev xvfb xserver-xephyr x11-xkb-utils \
             xauth xdotool x11-apps x11-utils imagemagick man-db groff-base dpkg-dev
RUN_PKGS   = $(BUILD_PKGS) xvfb x11-apps x11-utils imagemagick
BENCH_PKGS = $(BUILD_PKGS) libbenchmark-dev
DEB_PKGS   = $(BUILD_PKGS) dpkg-dev
# Each cross build's compiler, emulator and libraries: Debian's names for the
# processor (arm64, s390x, ppc64el) and its GNU triplet.
CROSS_DEB_aarch64 = arm64
CROSS_DEB_s390x   = s390x
CROSS_DEB_ppc64el = ppc64el
CROSS_GNU_aarch64 = aarch64-linux-gnu
CROSS_GNU_s390x   = s390x-linux-gnu
CROSS_GNU_ppc64el = powerpc64le-linux-gnu
CROSS_QEMU_aarch64 = qemu-aarch64
CROSS_QEMU_s390x   = qemu-s390x
CROSS_QEMU_ppc64el = qemu-ppc64le
CROSS_PKGS = g++-$(CROSS_GNU_$(ARCH)) binutils-$(CROSS_GNU_$(ARCH)) qemu-user \
             $(addsuffix :$(CROSS_DEB_$(ARCH)),libx11-dev libxext-dev libxrandr-dev libxinerama-dev libgtest-dev)
FUZZ_PKGS  = $(BUILD_PKGS) clang libclang-rt-dev

.PHONY: all run test test-optimised test-sanitized cross-in-test test-aarch64 test-cross bench fuzz deb programs build build-asan configure deps-build deps-test install clean

PROGRAMS  = vorbles vorbles-plain
Q         = $(if $(filter-out 0,$(V)),,@)
STEP      = scripts/step
PACKAGES  = scripts/ensure-packages --log $(BUILD)/setup.log
CONFIGURE = cmake --preset release -B $(BUILD)

all: build

deps-build:
	$(Q)$(PACKAGES) $(BUILD_PKGS)

deps-test:
	$(Q)$(PACKAGES) $(TEST_PKGS)

configure: deps-build
	$(Q)$(STEP) "configuring $(BUILD)" $(BUILD)/build.log "$(CONFIGURE)"

# The two programs alone: all that `make run` needs.
programs: deps-build
	$(Q)$(STEP) "building vorbles and vorbles-plain" $(BUILD)/build.log \
	    "$(CONFIGURE) && cmake --build $(BUILD) -j $(JOBS) --target $(PROGRAMS)"

# Everything, tests and benchmarks included (when their packages are there).
build: deps-build
	$(Q)$(STEP) "building everything in $(BUILD)" $(BUILD)/build.log \
	    "$(CONFIGURE) -DVORBLES_REQUIRE_TESTS=ON && cmake --build $(BUILD) -j $(JOBS)"

build-asan: deps-test
	$(Q)$(STEP) "building everything in $(BUILD_ASAN)" $(BUILD_ASAN)/build.log \
	    "cmake --preset debug-sanitizer -B $(BUILD_ASAN) -DVORBLES_REQUIRE_TESTS=ON && cmake --build $(BUILD_ASAN) -j $(JOBS)"

# With a display the window opens; without one the run is recorded on a
# private virtual X server. The program ends with status 1 also when all went
# well (it reports its failures itself), so 1 is no error here.
run:
	$(Q)if [ -n "$$DISPLAY" ]; then \
	    $(MAKE) --no-print-directory programs && \
	    { $(BUILD)/vorbles $(ARGS) || [ $$? -eq 1 ]; }; \
	else \
	    $(PACKAGES) $(RUN_PKGS) && $(MAKE) --no-print-directory programs && \
	    scripts/record --program $(BUILD)/vorbles --out $(BUILD)/vorbles-run \
	        $(if $(filter-out 0,$(V)),,--log $(BUILD)/record.log) -- $(ARGS); \
	fi

# ctest's own summary line follows each test step.
CTEST = ctest -j $(JOBS) --output-on-failure --no-tests=error
# The optimised build's tests run while the sanitized build compiles, and
# the sanitized build's while the aarch64 build does: tests that wait on the
# X server leave the processors room.
test: deps-test
	$(Q)$(MAKE) --no-print-directory build
	$(Q)$(MAKE) --no-print-directory -j 2 test-optimised build-asan
	$(Q)$(MAKE) --no-print-directory -j 2 test-sanitized cross-in-test

test-optimised:
	$(Q)$(STEP) --show 'tests passed' "testing in $(BUILD)" $(BUILD)/test.log "cd $(BUILD) && $(CTEST)"

test-sanitized:
	$(Q)$(STEP) --show 'tests passed' "testing in $(BUILD_ASAN)" $(BUILD_ASAN)/test.log "cd $(BUILD_ASAN) && $(CTEST)"

cross-in-test:
	$(Q)$(MAKE) --no-print-directory test-cross ARCH=aarch64 CROSS_OPTIONAL=1

# A cross build (ARCH: aarch64, s390x or ppc64el) under the user-mode
# emulator; needs the host build. Within `make test` (aarch64), a machine
# without the cross compiler or the emulator (one that is not Debian) skips
# it, saying so.
test-cross: build
	$(Q)$(PACKAGES) $(CROSS_PKGS)
	$(Q)if [ -n "$(CROSS_OPTIONAL)" ] && ! { command -v $(CROSS_GNU_$(ARCH))-g++ && command -v $(CROSS_QEMU_$(ARCH)); } >/dev/null; then \
	    echo "skipping $(BUILD_CROSS): no $(CROSS_GNU_$(ARCH))-g++ or $(CROSS_QEMU_$(ARCH)) (see the README)"; \
	else \
	    $(STEP) --show 'tests passed' "building and testing $(BUILD_CROSS)" $(BUILD_CROSS)/test.log \
	        "JOBS=$(JOBS) scripts/test-cross $(ARCH) $(BUILD) $(BUILD_CROSS)"; \
	fi

test-aarch64:
	$(Q)$(MAKE) --no-print-directory test-cross ARCH=aarch64

# A short run by default; BENCH_FULL=1 sweeps every size and variant. The
# measurements are the output, so they go to the terminal.
bench:
	$(Q)$(PACKAGES) $(BENCH_PKGS)
	$(Q)$(STEP) "building the benchmarks" $(BUILD)/build.log \
	    "$(CONFIGURE) && cmake --build $(BUILD) -j $(JOBS) --target benchmarks"
	$(Q)BENCH_FULL="$(BENCH_FULL)" scripts/bench $(BUILD)

# The bitmap layout under libFuzzer for FUZZ_TIME seconds (default 60), from
# the seeds and the inputs that once found faults; new inputs collect in
# build-fuzz/corpus, and a crashing one is written to build-fuzz/. Xlib's
# reader itself reserves (and never touches) 4 GB for some declared sizes,
# or asks for more than there is, which it then reports as a failed read:
# hence the malloc limit above the memory limit, and null for too much.
FUZZ_TIME ?= 60
fuzz:
	$(Q)$(PACKAGES) $(FUZZ_PKGS)
	$(Q)$(STEP) "building $(BUILD_FUZZ)" $(BUILD_FUZZ)/build.log \
	    "cmake --preset fuzz -B $(BUILD_FUZZ) && cmake --build $(BUILD_FUZZ) -j $(JOBS) --target bitmap_fuzz"
	$(Q)mkdir -p $(BUILD_FUZZ)/corpus
	$(Q)$(STEP) --show '^Done [0-9]+ runs' \
	    "fuzzing for $(FUZZ_TIME) s" $(BUILD_FUZZ)/fuzz.log \
	    "cd $(BUILD_FUZZ) && ASAN_OPTIONS=allocator_may_return_null=1:quarantine_size_mb=16 ./bitmap_fuzz \
	        -max_total_time=$(FUZZ_TIME) -max_len=16384 -close_fd_mask=3 -rss_limit_mb=4096 -malloc_limit_mb=1048576 \
	        -print_final_stats=1 \
	        -dict=$(CURDIR)/tests/fuzz/xbm.dict corpus $(CURDIR)/tests/fuzz/seeds $(CURDIR)/tests/fuzz/regressions"

# What `make` built, installed with cmake --install and nothing else: no
# package, no build. PREFIX (default /usr/local) and DESTDIR as usual.
install:
	$(Q)[ -f $(BUILD)/cmake_install.cmake ] && [ -x $(BUILD)/vorbles ] && [ -x $(BUILD)/vorbles-plain ] || \
	    { echo "nothing to install in $(BUILD): build it first (make)" >&2; exit 1; }
	$(Q)DESTDIR="$(DESTDIR)" cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

# A Debian package of the programs, their manual pages and the sample bitmap,
# with the library dependencies dpkg-shlibdeps finds.
deb: programs
	$(Q)$(PACKAGES) $(DEB_PKGS)
	$(Q)$(STEP) "packaging" $(BUILD)/deb.log "cd $(BUILD) && cpack -G DEB"
	$(Q)$(if $(filter-out 0,$(V)),:,sed -n 's|^CPack: - package: \(.*\) generated\.$$|\1|p' $(BUILD)/deb.log | \
	    sed 's|^$(CURDIR)/||; s|^|wrote |')

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD)-aarch64 $(BUILD)-s390x $(BUILD)-ppc64el $(BUILD_FUZZ)
