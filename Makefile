# Entry points. Every target installs what is missing first, so each works alone on a fresh
# Debian machine.
JOBS ?= 2
NATIVE := build/native
MINGW := build/mingw
export WINEDEBUG := -all
export WINEPREFIX := $(CURDIR)/$(MINGW)/wineprefix

.PHONY: deps build demo test bench asan-test windows windows-test clean

deps:
	@bash tools/install-deps.sh

build: deps
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)

demo: build
	@bash tools/demo.sh $(NATIVE)/quorvix

test: build
	cd $(NATIVE) && ctest --output-on-failure -j 1

# Replay throughput next to tshark on a capture of at least 200,000 frames built from the test
# captures, and on a busy server's capture recorded in the run (see README, "Replay throughput").
bench: build
	cmake --preset native -DQVX_BUILD_BENCHMARKS=ON >/dev/null
	cmake --build --preset native -j $(JOBS) --target capture_loop_bench quorvix
	$(NATIVE)/capture_loop_bench
	@bash bench/replay_bench.sh $(NATIVE)/quorvix
	@bash bench/busy_bench.sh $(NATIVE)/quorvix

asan-test: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	cd build/asan && ctest --output-on-failure

windows: deps
	cmake --preset mingw >/dev/null
	cmake --build --preset mingw -j $(JOBS) --target Quorvix

windows-test: deps
	cmake --preset mingw >/dev/null
	cmake --build --preset mingw -j $(JOBS)
	cd $(MINGW) && ctest --output-on-failure

clean:
	rm -rf build
