# Set-up, build and test entry points. Every target installs what is missing first.
BUILD_DIR ?= build
TSAN_DIR  ?= build-tsan
ASAN_DIR  ?= build-asan
FUZZ_DIR  ?= build-fuzz
FUZZ_SECONDS ?= 60
SOAK_HOURS ?= 24
SOAK_FRAMES ?= 10000000
SOAK_ASAN_FRAMES ?= 20000
SOAK_ARGS ?=
JOBS      ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

# Debian 12 packages the program, its tests and its demo need (pxlib-dev and python3-openpyxl
# only for the tests, which read our tables and workbooks back with them).
PACKAGES = build-essential cmake pkg-config ccache \
           qt6-base-dev libqt6opengl6-dev qt6-charts-dev qt6-svg-dev libgl-dev \
           libqt6sql6-sqlite libqt6sql6-psql \
           libudev-dev libxlsxwriter-dev libminizip-dev \
           libgtest-dev libgmock-dev libbenchmark-dev pxlib-dev python3-openpyxl \
           fonts-liberation2 xvfb xauth udev poppler-utils postgresql

# Only the fuzz targets need these (clang and its sanitizer and fuzzer runtimes); `make test`
# and `make asan` build with GCC.
FUZZ_PACKAGES = clang libclang-rt-14-dev

# Tools the Debian package is built and checked with; only `make package` installs them.
PACKAGE_TOOLS = dpkg-dev fakeroot desktop-file-utils appstream lintian

# `make install` puts the programs under PREFIX, staged under DESTDIR when that is given.
PREFIX  ?= /usr/local
DESTDIR ?=
VERSION := $(shell grep -m1 -o 'kxlink VERSION [0-9.]*' CMakeLists.txt | cut -d' ' -f3)

.PHONY: all deps package-deps fuzz-deps configure build test demo bench tsan asan asan-configure \
        fuzz soak soak-asan install uninstall package clean format

all: build

# Installs the packages of $(1) that are missing, as root; as a normal user names them and stops.
define install_missing
	@missing=""; \
	for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" != "0" ]; then \
	    echo "Missing packages:$$missing"; \
	    echo "Run 'make $@' as root (or: sudo apt-get install$$missing)."; \
	    exit 1; \
	  fi; \
	  echo "Installing:$$missing"; \
	  export DEBIAN_FRONTEND=noninteractive; \
	  apt-get update -qq && apt-get install -y -qq --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))

package-deps:
	$(call install_missing,$(PACKAGE_TOOLS))

fuzz-deps: deps
	$(call install_missing,$(FUZZ_PACKAGES))

# The flags a build folder was configured with are kept beside it; a change of CMAKE_FLAGS
# configures it again.
FLAGS_STAMP = $(BUILD_DIR)/.cmake-flags
$(shell mkdir -p $(BUILD_DIR) && { [ -f $(FLAGS_STAMP) ] && [ "$$(cat $(FLAGS_STAMP))" = "$(CMAKE_FLAGS)" ] || echo "$(CMAKE_FLAGS)" > $(FLAGS_STAMP); })

$(BUILD_DIR)/CMakeCache.txt: $(FLAGS_STAMP)
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)
	@touch $@

configure: deps $(BUILD_DIR)/CMakeCache.txt

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 600

demo: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "No display: starting the demo under xvfb-run"; \
	  xvfb-run -a $(BUILD_DIR)/kxlink --demo; \
	else \
	  $(BUILD_DIR)/kxlink --demo; \
	fi

bench: build
	cmake --build $(BUILD_DIR) -j $(JOBS) --target bench_all
	@for b in $(BUILD_DIR)/bench/bench_*; do echo "== $$b"; QT_QPA_PLATFORM=offscreen $$b || exit 1; done

tsan: deps
	cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DKX_TSAN=ON -DKX_BUILD_BENCH=OFF
	cmake --build $(TSAN_DIR) -j $(JOBS) --target thread_tests
	cd $(TSAN_DIR) && QT_QPA_PLATFORM=offscreen TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --output-on-failure -L thread --timeout 600

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer. Leaks inside the
# table library the tests compare against are suppressed by name (tests/sanitizers/lsan.supp).
SAN_ENV = QT_QPA_PLATFORM=offscreen \
          ASAN_OPTIONS="detect_leaks=1 abort_on_error=1 detect_stack_use_after_return=1" \
          LSAN_OPTIONS="suppressions=$(CURDIR)/tests/sanitizers/lsan.supp print_suppressions=0" \
          UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1"

asan-configure: deps
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DKX_ASAN=ON -DKX_BUILD_BENCH=OFF

asan: asan-configure
	cmake --build $(ASAN_DIR) -j $(JOBS) --target all_tests
	cd $(ASAN_DIR) && $(SAN_ENV) ctest --output-on-failure -j $(JOBS) --timeout 1200

# The whole window path on the simulated cable for SOAK_FRAMES frames with recording on; prints
# resident memory as it goes. soak-asan: a shorter run under the sanitizers, leaks included.
# SOAK_ARGS=--hidden leaves the window unshown (no painting), several times faster. Then
# SOAK_HOURS of simulated unattended logging (a glitch every ten minutes, a silence every hour)
# with the link reconnecting by itself; resident memory each simulated hour.
soak: build
	cmake --build $(BUILD_DIR) -j $(JOBS) --target soak_window soak_reconnect
	$(BUILD_DIR)/soak_window $(SOAK_FRAMES) $(SOAK_ARGS)
	$(BUILD_DIR)/soak_reconnect $(SOAK_HOURS)

soak-asan: asan-configure
	cmake --build $(ASAN_DIR) -j $(JOBS) --target soak_window
	$(SAN_ENV) $(ASAN_DIR)/soak_window $(SOAK_ASAN_FRAMES) $(SOAK_ARGS)

# Builds the fuzz targets (clang, ASan and UBSan) and runs each for FUZZ_SECONDS, JOBS at a
# time, from the seeds
# in fuzz/corpus/<target>/ and what earlier runs found (kept in $(FUZZ_DIR)/corpus/). A crash
# leaves its input in $(FUZZ_DIR)/artifacts/ and fails the target.
fuzz: fuzz-deps
	cmake -S . -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=Debug -DKX_FUZZ=ON -DKX_BUILD_TESTS=OFF -DKX_BUILD_BENCH=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz_all
	fuzz/run_fuzzers.sh $(FUZZ_DIR) $(FUZZ_SECONDS) $(JOBS)

# The list of installed files is kept under its own name (the install tests write CMake's own
# one), with DESTDIR in front, so `make uninstall` removes exactly what was put in place.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"
	@sed 's|^|$(DESTDIR)|' $(BUILD_DIR)/install_manifest.txt > $(BUILD_DIR)/installed-files.txt
	@if [ -z "$(DESTDIR)" ] && [ "$$(id -u)" = "0" ] && command -v udevadm >/dev/null 2>&1; then \
	  udevadm control --reload-rules || true; \
	  echo "udev rules reloaded: plug the meter's cable in again to use it without root"; \
	fi

uninstall:
	@if [ ! -f $(BUILD_DIR)/installed-files.txt ]; then \
	  echo "Nothing installed from $(BUILD_DIR)"; exit 1; \
	fi
	xargs -r -d '\n' rm -f -- < $(BUILD_DIR)/installed-files.txt
	@xargs -r -d '\n' -n1 dirname < $(BUILD_DIR)/installed-files.txt | grep '/kxlink\(/\|$$\)' | \
	  sort -ru | xargs -r -d '\n' rmdir --ignore-fail-on-non-empty --
	@rm -f $(BUILD_DIR)/installed-files.txt

# The Debian package build/kxlink_VERSION_ARCH.deb, checked by the menu-entry, metainfo and
# package linters (errors fail the target, warnings are shown) and by the package test.
package: package-deps build
	cd $(BUILD_DIR) && cpack -G DEB
	desktop-file-validate dist/linux/org.kxlink.kxlink.desktop
	appstreamcli validate --no-net dist/linux/org.kxlink.kxlink.metainfo.xml
	lintian --fail-on error $(BUILD_DIR)/kxlink_$(VERSION)_$$(dpkg --print-architecture).deb
	cd $(BUILD_DIR) && ctest -R '^Package\.' --output-on-failure

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD_DIR) $(TSAN_DIR) $(ASAN_DIR) $(FUZZ_DIR)
