# One-word entry points. `make test` is what CI and a newcomer run.
BUILD    ?= build
GENERATOR = Ninja
CMAKE_FLAGS ?=
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# Debian 12 packages the build, the tests and the demo need.
DEB_PACKAGES = cmake ninja-build g++ pkg-config \
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev \
  libgtest-dev libgmock-dev libbenchmark-dev

.PHONY: all deps build test bench run demo format sanitize fuzz clean

all: build

deps:
	@missing=$$(for p in $(DEB_PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G $(GENERATOR) $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j2

bench: build
	$(BUILD)/bin/tq-b9-bench

run: build
	$(BUILD)/bin/tq-b9 $(ARGS)

demo: build
	tools/demo.sh $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
