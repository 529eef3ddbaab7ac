# make run   - install what is missing, build, start the meter
# make test  - install what is missing, build with sanitizers, run every test
# make bench - install what is missing, build optimised, run the benchmarks

BUILD_DIR      ?= build/release
TEST_BUILD_DIR ?= build/sanitize
GENERATOR       = $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")

.PHONY: all deps build run test bench format clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUANTIRO_TESTS=OFF

$(TEST_BUILD_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(TEST_BUILD_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Debug \
	    -DQUANTIRO_SANITIZE=ON -DQUANTIRO_WERROR=ON -DQUANTIRO_BENCH=OFF

build: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR)

run: build
	$(BUILD_DIR)/bin/quantiro

test: deps $(TEST_BUILD_DIR)/CMakeCache.txt
	cmake --build $(TEST_BUILD_DIR)
	cd $(TEST_BUILD_DIR) && ctest --output-on-failure --timeout 600

bench: build
	$(BUILD_DIR)/bin/tick_bench
	$(BUILD_DIR)/bin/month_sum_bench

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
