# Everything a developer or CI needs: `make test` on a fresh Debian 12 machine installs, builds
# and runs every test; `make run` starts what the project has to run.
BUILD_DIR ?= build
RELEASE_DIR ?= build-release
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
PREFIX ?= /usr/local
FORMATTED = find src tests bench fuzz -name '*.cpp' -o -name '*.h' 2>/dev/null

.PHONY: all deps configure build test run release install package bench fuzz format format-check \
	clean screenshots

all: build

deps:
	@bash scripts/deps.sh

# Warnings are errors in every build made here; plain cmake (package builds) leaves them warnings.
configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DQUILLORA_WERROR=ON $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600

run: build
	@bash scripts/run.sh $(BUILD_DIR)

# Debian's hardening flags (stack protector, fortified calls, full RELRO), without its -g -O2 and
# without the source-path mapping that would keep ccache from sharing objects between checkouts.
HARDENING = DEB_BUILD_MAINT_OPTIONS="hardening=+all reproducible=-fixfilepath,-fixdebugpath" \
	DEB_CFLAGS_MAINT_STRIP="-g -O2" DEB_CXXFLAGS_MAINT_STRIP="-g -O2" dpkg-buildflags --get

# The optimised, hardened build packagers make (without the test suites); the benchmarks, `make
# install` and `make package` use it.
release: deps
	@cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORA_WERROR=ON \
		-DQUILLORA_TESTS=OFF -DCMAKE_INSTALL_PREFIX=$(PREFIX) \
		-DCMAKE_C_FLAGS="$$($(HARDENING) CFLAGS) $$($(HARDENING) CPPFLAGS)" \
		-DCMAKE_CXX_FLAGS="$$($(HARDENING) CXXFLAGS) $$($(HARDENING) CPPFLAGS)" \
		-DCMAKE_EXE_LINKER_FLAGS="$$($(HARDENING) LDFLAGS)" $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(RELEASE_DIR) -j $(JOBS)

# `make install [PREFIX=/usr/local] [DESTDIR=...]`: the three programs, manual pages, desktop
# entry, icon, completion and the platform service.
install: release
	@DESTDIR="$(DESTDIR)" cmake --install $(RELEASE_DIR)

# The Debian package in build-release/packages/, listed and checked by lintian.
package: PREFIX = /usr
package: release
	@cd $(RELEASE_DIR) && cpack -G DEB >/dev/null
	@deb=$$(ls -t $(RELEASE_DIR)/packages/*.deb | head -n 1) && echo "$$deb" && dpkg-deb -c "$$deb" && \
		lintian --fail-on error,warning "$$deb" && \
		echo "lintian: clean"

bench: release
	@cmake --build $(RELEASE_DIR) --target run_benchmarks

# Renders each main screen offscreen to docs/screenshots/ for the README.
screenshots: build
	@QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/tests/app/app_screenshots docs/screenshots

fuzz: deps
	@cmake -S . -B $(BUILD_DIR)-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORA_FUZZ=ON -DQUILLORA_WERROR=ON \
		-DQUILLORA_GUI=OFF -DQUILLORA_TESTS=OFF -DQUILLORA_BENCH=OFF >/dev/null
	@cmake --build $(BUILD_DIR)-fuzz -j $(JOBS)
	@echo "Fuzz targets are in $(BUILD_DIR)-fuzz/fuzz/"

format:
	@$(FORMATTED) | xargs -r clang-format -i

format-check: deps
	@$(FORMATTED) | xargs -r clang-format --dry-run --Werror

clean:
	@rm -rf $(BUILD_DIR) $(BUILD_DIR)-fuzz $(RELEASE_DIR)
