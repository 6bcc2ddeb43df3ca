# Everything a developer or CI needs: `make test` on a fresh Debian 12 machine installs, builds
# and runs every test; `make run` starts what the project has to run.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test run bench fuzz format clean

all: build

deps:
	@bash scripts/deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600

run: build
	@bash scripts/run.sh $(BUILD_DIR)

bench: build
	@cmake --build $(BUILD_DIR) --target run_benchmarks

fuzz: deps
	@cmake -S . -B $(BUILD_DIR)-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORA_FUZZ=ON -DQUILLORA_GUI=OFF \
		-DQUILLORA_TESTS=OFF -DQUILLORA_BENCH=OFF >/dev/null
	@cmake --build $(BUILD_DIR)-fuzz -j $(JOBS)
	@echo "Fuzz targets are in $(BUILD_DIR)-fuzz/fuzz/"

format:
	@find src tests bench fuzz -name '*.cpp' -o -name '*.h' 2>/dev/null | xargs -r clang-format -i

clean:
	@rm -rf $(BUILD_DIR) $(BUILD_DIR)-fuzz
