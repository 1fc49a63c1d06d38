# make demo      install what is missing, build the program, run the paper-trading demo
# make test      install what is missing, build into build/, run every test
# make sanitize  the same suite under ASan+UBSan (build-asan/) and TSan (build-tsan/)
# make bench     the benchmarks against their peers (installs the peers)
# make soak SESSIONS=N SEED=S   N seeded adversarial sessions of the order path
# make soak-demo REPEAT=N       the demo over N passes of its history with the venue misbehaving
# make soak-store SEQUENCES=N SEED=S   N seeded sequences of the record store's
#                operations on SQLite and on a private PostgreSQL server, checked
#                against each other
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
SESSIONS ?= 1000
SEQUENCES ?= 1000
SEED ?= 1
REPEAT ?= 4

.PHONY: all deps configure build demo test sanitize asan tsan bench soak soak-demo soak-store format clean

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
	PYTHONPATH=build-bench/python /usr/bin/python3 bench/python/bench_gateway.py

soak: configure
	cmake --build $(BUILD) -j $(JOBS) --target money_path_soak
	$(BUILD)/tests/money_path_soak --sessions $(SESSIONS) --seed $(SEED)

soak-demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target zantrix
	$(BUILD)/apps/zantrix --config examples/zantrix_config.json demo --repeat $(REPEAT) --soak

# The server is started for the run in $(BUILD)/soak-postgres and stopped after
# it, whatever the outcome.
soak-store: configure
	cmake --build $(BUILD) -j $(JOBS) --target store_soak
	tests/support/postgres_server start $(BUILD)/soak-postgres >/dev/null
	status=0; ZANTRIX_TEST_POSTGRES_URI_FILE=$(BUILD)/soak-postgres/uri \
	  $(BUILD)/tests/store_soak --sequences $(SEQUENCES) --seed $(SEED) || status=$$?; \
	tests/support/postgres_server stop $(BUILD)/soak-postgres; exit $$status

format:
	clang-format -i $$(git ls-files '*.h' '*.cpp')

clean:
	rm -rf build build-asan build-tsan build-bench
