# One-word entry points. `make test` is what CI and a newcomer run.
BUILD    ?= build
GENERATOR = Ninja
CMAKE_FLAGS ?=
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# Debian 12 packages the build, the tests and the demo need.
DEB_PACKAGES = cmake ninja-build g++ pkg-config \
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev \
  libgtest-dev libgmock-dev libbenchmark-dev fonts-dejavu-core zlib1g-dev srecord

.PHONY: all deps build test bench run demo format sanitize fuzz package check-nosim windows \
  check-windows clean

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
	tools/perf-report.sh $(BUILD)

run: build
	$(BUILD)/bin/tq-b9 $(ARGS)

demo: build
	tools/demo.sh $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, in its own build dir. Any
# finding fails the test it happens in, leaks included (Qt needs no suppressions here).
ASAN_BUILD ?= build-asan
SANITIZE_ENV = ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

sanitize: deps
	cmake -S . -B $(ASAN_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug \
	  -DTQB9_SANITIZE=ON -DTQB9_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j2
	cd $(ASAN_BUILD) && $(SANITIZE_ENV) ctest --output-on-failure -j2

# libFuzzer targets (clang) with AddressSanitizer and UndefinedBehaviorSanitizer, each run for
# FUZZ_SECONDS on a corpus under the build dir seeded from tests/fuzz/corpus/<target>/. A crash
# leaves its input in $(FUZZ_BUILD)/artifacts/; commit it to the seed folder as a regression.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = srecord reply sim srecfile hexfile

FUZZ_PACKAGES = clang libclang-rt-14-dev

fuzz: deps
	@$(MAKE) --no-print-directory deps DEB_PACKAGES="$(FUZZ_PACKAGES)"
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G $(GENERATOR) \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQB9_FUZZ=ON -DTQB9_SANITIZE=ON -DTQB9_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j2 --target fuzz_targets
	@mkdir -p $(FUZZ_BUILD)/artifacts
	@set -e; for t in $(FUZZ_TARGETS); do \
	  [ -x $(FUZZ_BUILD)/bin/fuzz_$$t ] || { echo "fuzz_$$t: not built"; continue; }; \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  $(SANITIZE_ENV) $(FUZZ_BUILD)/bin/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_BUILD)/artifacts/$$t- \
	    $(FUZZ_BUILD)/corpus/$$t tests/fuzz/corpus/$$t; \
	done

# The Debian package (CPack), checked by tools/check-package.sh: lintian without errors, valid
# desktop entry, metainfo and manual pages, computed dependencies, and the programs run from a
# scratch root the package is unpacked into. CPack needs `file` to find the programs for
# dpkg-shlibdeps.
PACKAGE_TOOLS = dpkg-dev file lintian desktop-file-utils appstream man-db

package: build
	@$(MAKE) --no-print-directory deps DEB_PACKAGES="$(PACKAGE_TOOLS)"
	rm -f $(BUILD)/tq-b9_*.deb
	cmake --build $(BUILD) --target package
	tools/check-package.sh $(BUILD)/tq-b9_*.deb

# The build a Windows machine gets: no simulated radio, so only the pure tests. Debug, because
# this only has to prove that it configures, builds and passes, and -O0 compiles fastest.
NOSIM_BUILD ?= build-nosim

check-nosim: deps
	cmake -S . -B $(NOSIM_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DTQB9_SIM=OFF \
	  -DTQB9_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(NOSIM_BUILD) -j2
	cd $(NOSIM_BUILD) && ctest --output-on-failure -j2

# Windows, cross-built on Debian with MinGW-w64 against a Windows Qt 6.4.2: tq-b9.exe and
# tq-b9-cli.exe, warnings as errors, then CPack's installer and zip. QT_WINDOWS is that Qt, an
# archive or an unpacked folder; without it tools/windows-qt.sh builds one once (about 18 minutes)
# and keeps it outside the tree. RelWithDebInfo as everywhere else: at -O3, GCC 12 warns falsely
# (-Wrestrict) in the tests' string code. The shipped files are stripped.
WINDOWS_BUILD ?= build-windows
QT_WINDOWS ?=
WINDOWS_PACKAGES = g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 nsis xz-utils
WINDOWS_CHECK_PACKAGES = xvfb xdotool xclip imagemagick unzip

windows: deps
	@$(MAKE) --no-print-directory deps DEB_PACKAGES="$(WINDOWS_PACKAGES)"
	@qt=$$(tools/windows-qt.sh $(QT_WINDOWS)) && echo "Windows Qt: $$qt" && \
	cmake -S . -B $(WINDOWS_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake -DQT_WINDOWS_PREFIX="$$qt" \
	  -DCMAKE_PREFIX_PATH="$$qt" -DQT_HOST_PATH=/usr \
	  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DTQB9_BENCH=OFF >/dev/null
	cmake --build $(WINDOWS_BUILD) -j2
	rm -f $(WINDOWS_BUILD)/tq-b9-*-win64*.exe $(WINDOWS_BUILD)/tq-b9-*-win64*.zip
	cd $(WINDOWS_BUILD) && cpack
	@ls -l $(WINDOWS_BUILD)/tq-b9-*-win64*

# The Windows build under Wine (tools/check-windows.sh): the tests `make check-nosim` runs, the
# command line against the Linux build's tq-b9-cli, the installer in and out, the zip, the window.
check-windows: windows $(BUILD)/build.ninja
	@$(MAKE) --no-print-directory deps DEB_PACKAGES="$(WINDOWS_CHECK_PACKAGES)"
	cmake --build $(BUILD) --target tq-b9-cli tq-b9-sim
	tools/check-windows.sh $(WINDOWS_BUILD) $(BUILD)

clean:
	rm -rf $(BUILD)
