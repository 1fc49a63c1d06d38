# make demo      install what is missing, build the program, run the paper-trading demo
# make test      install what is missing, build into build/, run every test
# make sanitize  the same suite under ASan+UBSan (build-asan/) and TSan (build-tsan/)
# make bench     the benchmarks against their peers (installs the peers)
# make soak-demo the demo over months of replayed history with the venue misbehaving (REPEAT=4 passes)
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build demo test sanitize asan tsan bench format clean

all: build

deps:
	@scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target zantrix
	$(BUILD)/apps/zantrix --config examples/zantrix_config.json demo

.PHONY: soak-demo
soak-demo: REPEAT ?= 4
soak-demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target zantrix
	$(BUILD)/apps/zantrix --config examples/zantrix_config.json demo --repeat $(REPEAT) --soak

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

asan:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DZANTRIX_SANITIZE=address -DZANTRIX_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug"

tsan:
	$(MAKE) test BUILD=build-tsan CMAKE_FLAGS="-DZANTRIX_SANITIZE=thread -DZANTRIX_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug"

sanitize: asan tsan

bench:
	@scripts/install-deps --bench
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZANTRIX_BUILD_TESTS=OFF
	cmake --build build-bench -j $(JOBS) --target bench_metrics bench_history bench_db bench_gateway zantrix
	bench/metrics/run build-bench/bench/bench_metrics
	bench/history/run build-bench/bench/bench_history
	bench/db/run build-bench/bench/bench_db
	bench/gateway/run build-bench/bench/bench_gateway
	cmake --build build-bench -j $(JOBS) --target zantrix_python
	PYTHONPATH=build-bench/python /usr/bin/python3 bench/python/bench_python.py

format:
	clang-format -i $$(git ls-files '*.h' '*.cpp')

clean:
	rm -rf build build-asan build-tsan build-bench
