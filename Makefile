# Wraps CMake. `make demo` and `make test` do the whole set-up on a fresh Debian 12 machine.

BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
# The slow tests wait on the tool's timeouts (stalled owners, a silent display), not on the CPU, so
# more of them run side by side than there are cores.
TEST_JOBS  ?= 12
PREFIX     ?= /usr/local

# What building the tool needs, all from Debian: `make deps`, and so `make demo` and `make deb`.
# The AppKit build (against GNUstep) needs the codecs' part only.
CODEC_PACKAGES := build-essential cmake pkg-config \
	libspng-dev libtiff-dev libjpeg62-turbo-dev libwebp-dev libgif-dev libdeflate-dev \
	liblcms2-dev
BUILD_PACKAGES := $(CODEC_PACKAGES) libxcb1-dev libwayland-dev libwayland-bin
# What the tests add: GoogleTest, libpng to decode against, the X11 and Wayland desktops the
# clipboard tests run and the peers they copy and paste with: `make test-deps`, and so `make test`.
CORE_TEST_PACKAGES := libpng-dev libgtest-dev libgmock-dev
TEST_PACKAGES := $(CORE_TEST_PACKAGES) xvfb xclip xauth sway wl-clipboard \
	mutter xwayland dbus kwin-wayland python3-gi
# The AppKit clipboard against GNUstep's AppKit; its tests add GoogleTest and libpng, and run
# GNUstep's pasteboard server gpbs (from gnustep-back-common).
APPKIT_PACKAGES := $(CODEC_PACKAGES) libgnustep-gui-dev gnustep-back0.29 gobjc++-12

# $(call install-missing,PACKAGES): installs those Debian PACKAGES that are not installed yet.
define install-missing
	@missing=$$(for p in $(1); do \
		dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
		echo "Installing:" $$missing; \
		apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi
endef

.PHONY: all deps build tool demo test test-release test-asan clean install deb deb-deps deb-check-deps \
	appkit-deps appkit-test-deps appkit test-appkit test-posix

all: build

deps:
	$(call install-missing,$(BUILD_PACKAGES))

.PHONY: test-deps
test-deps:
	$(call install-missing,$(BUILD_PACKAGES) $(TEST_PACKAGES))

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DCLIPTINT_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)

# The tool alone: the tests are left out, as their packages may not be installed.
tool:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DCLIPTINT_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS) --target cliptint

demo: deps tool
	@sh examples/demo.sh $(BUILD)/cliptint

test-release: build
	cd $(BUILD) && ctest --output-on-failure -j $(TEST_JOBS)

test-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCLIPTINT_SANITIZE=ON -DCLIPTINT_TESTS=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(TEST_JOBS)

test: test-deps
	$(MAKE) test-release
	$(MAKE) test-asan

# The AppKit build, against GNUstep: the backend a Mac builds, tested here against a real
# pasteboard server. It stands in for a Mac, so it takes the POSIX paths a Mac takes too.
APPKIT_BUILD ?= build-appkit
APPKIT_CMAKE := -DCMAKE_BUILD_TYPE=Release -DCLIPTINT_CLIPBOARD=appkit -DCLIPTINT_POSIX_FALLBACKS=ON

appkit-deps:
	$(call install-missing,$(APPKIT_PACKAGES))

appkit-test-deps:
	$(call install-missing,$(APPKIT_PACKAGES) $(CORE_TEST_PACKAGES))

appkit: appkit-deps
	cmake -S . -B $(APPKIT_BUILD) $(APPKIT_CMAKE) -DCLIPTINT_TESTS=OFF
	cmake --build $(APPKIT_BUILD) -j $(JOBS) --target cliptint

test-appkit: appkit-test-deps
	cmake -S . -B $(APPKIT_BUILD) $(APPKIT_CMAKE) -DCLIPTINT_TESTS=ON
	cmake --build $(APPKIT_BUILD) -j $(JOBS)
	cd $(APPKIT_BUILD) && ctest --output-on-failure -j $(TEST_JOBS)

# The whole suite with every Linux-only call replaced by its POSIX fallback (src/sys/platform.hpp).
POSIX_BUILD ?= build-posix

test-posix: test-deps
	cmake -S . -B $(POSIX_BUILD) -DCMAKE_BUILD_TYPE=Release -DCLIPTINT_POSIX_FALLBACKS=ON \
		-DCLIPTINT_TESTS=ON
	cmake --build $(POSIX_BUILD) -j $(JOBS)
	cd $(POSIX_BUILD) && ctest --output-on-failure -j $(TEST_JOBS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(APPKIT_BUILD) $(POSIX_BUILD)

# `make install [PREFIX=/usr/local] [DESTDIR=...]`: the tool in bin/, stripped as a package's is,
# its manual page, notes and shell completions under share/ (packaging/CMakeLists.txt).
install: tool
	DESTDIR='$(DESTDIR)' cmake --install $(BUILD) --prefix '$(PREFIX)' --strip

# `make deb` writes $(BUILD)/cliptint_VERSION_amd64.deb; CPack reads its Depends off the binary
# with dpkg-shlibdeps, and finds the ELF files with file(1). .ci/package installs and checks it,
# with lintian, the manual page linters and the shells whose completions it carries.
DEB_TOOL_PACKAGES  := file
DEB_CHECK_PACKAGES := lintian mandoc man-db groff-base zsh fish

deb-deps:
	$(call install-missing,$(DEB_TOOL_PACKAGES))

deb-check-deps:
	$(call install-missing,$(DEB_CHECK_PACKAGES))

deb: deps deb-deps tool
	cd $(BUILD) && cpack -G DEB

# Fuzzing: libFuzzer targets built with clang 16, ASan and UBSan (fuzz/README.md).
# `make fuzz` runs each target FUZZ_SECONDS; `make fuzz-ci` runs each for 60 s.
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 180
FUZZ_TARGETS ?= canvas run
FUZZ_DEB_PACKAGES := clang-16 libc++-16-dev libc++abi-16-dev libclang-rt-16-dev \
	imagemagick python3-pil

.PHONY: fuzz-deps fuzz-build fuzz fuzz-ci

fuzz-deps:
	$(call install-missing,$(FUZZ_DEB_PACKAGES))

fuzz-build: deps fuzz-deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_C_COMPILER=clang-16 -DCMAKE_CXX_COMPILER=clang++-16 \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCLIPTINT_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target canvas_fuzzer run_fuzzer

fuzz: fuzz-build
	sh fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

fuzz-ci:
	$(MAKE) fuzz FUZZ_SECONDS=60

# Benchmarks (bench/README.md): `make bench` times the Release tool against ImageMagick and libvips
# and writes bench/results.md; `make bench-micro` runs the Google Benchmark micro-benchmarks.
BENCH_BUILD ?= build-bench
BENCH_DEB_PACKAGES := hyperfine imagemagick libvips-tools time libbenchmark-dev

.PHONY: bench-deps bench bench-micro

bench-deps:
	$(call install-missing,$(BENCH_DEB_PACKAGES))

bench: deps bench-deps tool
	python3 bench/run --binary $(BUILD)/cliptint

bench-micro: deps bench-deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DCLIPTINT_TESTS=OFF -DCLIPTINT_BENCH=ON
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target cliptint_micro
	$(BENCH_BUILD)/cliptint_micro
