# Wraps CMake. `make demo` and `make test` do the whole set-up on a fresh Debian 12 machine.

BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)

# Build and test dependencies, all from Debian.
DEB_PACKAGES := build-essential cmake pkg-config \
	libspng-dev libpng-dev libtiff-dev libjpeg62-turbo-dev libwebp-dev libgif-dev libdeflate-dev \
	libxcb1-dev libgtest-dev libgmock-dev xvfb xclip xauth

.PHONY: all deps build tool demo test test-release test-asan clean

all: build

deps:
	@missing=$$(for p in $(DEB_PACKAGES); do \
		dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
		echo "Installing:" $$missing; \
		apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DCLIPTINT_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)

# The tool alone, without the tests.
tool:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS) --target cliptint

demo: deps tool
	@sh examples/demo.sh $(BUILD)/cliptint

test-release: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCLIPTINT_SANITIZE=ON -DCLIPTINT_TESTS=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

test: deps
	$(MAKE) test-release
	$(MAKE) test-asan

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
