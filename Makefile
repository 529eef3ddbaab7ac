# make run   - install what is missing, build, start the meter
# make test  - install what is missing, build with sanitizers, run every test
# make bench - install what is missing, build optimised, run the benchmarks
# make package - install what is missing, build optimised, make the Debian package
# make fuzz  - build the libFuzzer targets with clang and run each FUZZ_RUNS times

BUILD_DIR      ?= build/release
TEST_BUILD_DIR ?= build/sanitize
GENERATOR       = $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")

FUZZ_DIR       ?= build/fuzz
FUZZ_RUNS      ?= 1000000
FUZZ_FLAGS      = -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -Isrc

.PHONY: all deps build run test bench package fuzz format clean

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

package: build
	cd $(BUILD_DIR) && cpack
	@ls $(BUILD_DIR)/quantiro_*.deb

bench: build
	@scripts/install-deps.sh bench
	cmake --build $(BUILD_DIR) --target benches
	$(BUILD_DIR)/bin/tick_bench
	$(BUILD_DIR)/bin/month_sum_bench
	bench/startup
	bench/endurance
	bench/faults
	bench/accuracy
	bench/day
	bench/laptop-day
	bench/footprint
	bench/apps
	bench/bounds
	bench/collector-readers
	bench/limit-watcher
	bench/reports
	bench/hours

fuzz:
	@scripts/install-deps.sh fuzz
	mkdir -p $(FUZZ_DIR)
	clang++ $(FUZZ_FLAGS) fuzz/MessageListFuzz.cpp src/messages/MessageList.cpp -o $(FUZZ_DIR)/message_list_fuzz
	clang++ $(FUZZ_FLAGS) fuzz/ParameterFileFuzz.cpp src/sampling/ParameterFile.cpp src/common/FamilyPaths.cpp src/platform/linux/Files.cpp -o $(FUZZ_DIR)/parameter_file_fuzz
	clang++ $(FUZZ_FLAGS) fuzz/TrafficRecordFuzz.cpp src/reports/TrafficHistory.cpp src/reports/ReportRows.cpp -o $(FUZZ_DIR)/traffic_record_fuzz
	mkdir -p $(FUZZ_DIR)/messages $(FUZZ_DIR)/parameters $(FUZZ_DIR)/records
	$(FUZZ_DIR)/message_list_fuzz -runs=$(FUZZ_RUNS) -max_len=4096 $(FUZZ_DIR)/messages fuzz/corpus/messages
	$(FUZZ_DIR)/parameter_file_fuzz -runs=$(FUZZ_RUNS) -max_len=4096 $(FUZZ_DIR)/parameters fuzz/corpus/parameters
	$(FUZZ_DIR)/traffic_record_fuzz -runs=$(FUZZ_RUNS) -max_len=4096 $(FUZZ_DIR)/records fuzz/corpus/records

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
