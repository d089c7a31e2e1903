# Entry points. Every target installs what is missing first, so each works alone on a fresh
# Debian machine.
JOBS ?= 2
NATIVE := build/native
MINGW := build/mingw
export WINEDEBUG := -all
export WINEPREFIX := $(CURDIR)/$(MINGW)/wineprefix

.PHONY: deps build demo test deb bench bench-window asan-test fuzz windows windows-test clean

deps:
	@bash tools/install-deps.sh

build: deps
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)

demo: build
	@bash tools/demo.sh $(NATIVE)/quorvix

test: build
	cd $(NATIVE) && ctest --output-on-failure -j 1

# The Debian package build/native/quorvix_<version>_amd64.deb (CPack), then checked: lintian,
# dpkg -x and --version, systemd-analyze verify of its unit.
deb: build
	rm -f $(NATIVE)/quorvix_*.deb
	cd $(NATIVE) && cpack -G DEB
	bash packaging/check_deb.sh $(NATIVE)/quorvix_*_amd64.deb

# Replay throughput next to tshark on a capture of at least 200,000 frames built from the test
# captures, and on a busy server's capture recorded in the run (see README, "Replay throughput").
bench: build
	cmake --preset native -DQVX_BUILD_BENCHMARKS=ON >/dev/null
	cmake --build --preset native -j $(JOBS) --target capture_loop_bench access_floor quorvix
	$(NATIVE)/capture_loop_bench
	@bash bench/replay_bench.sh $(NATIVE)/quorvix
	@bash bench/busy_bench.sh $(NATIVE)/quorvix $(NATIVE)/access_floor

# Rows per second into the window of Quorvix.exe under Wine: the window alone (window_rows_bench,
# 200,000 rows from a second thread), then a replay of some 60,000 rows built from the test
# captures (see README, "Rows into the window").
bench-window: deps
	cmake --preset mingw >/dev/null
	cmake --build --preset mingw -j $(JOBS) --target Quorvix wintool window_rows_bench
	QVX_WINTOOL=$(CURDIR)/$(MINGW)/wintool.exe bash bench/window_bench.sh $(MINGW)/Quorvix.exe

asan-test: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	cd build/asan && ctest --output-on-failure

# The frame fuzz target (clang, libFuzzer, ASan+UBSan) for FUZZ_SECONDS, seeded from the frames
# of the captures in tests/data and the regression corpus (see README, "Fuzzing"). Inputs that
# crash are written to build/fuzz/crashes/.
FUZZ_SECONDS ?= 60
FUZZ := build/fuzz
fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS) --target frame_fuzz frame_replay
	rm -rf $(FUZZ)/seeds
	$(FUZZ)/frame_replay --seeds $(FUZZ)/seeds tests/data/*.pcap tests/data/*.pcapng
	mkdir -p $(FUZZ)/corpus $(FUZZ)/crashes
	$(FUZZ)/frame_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=16384 -timeout=20 \
	  -print_final_stats=1 -artifact_prefix=$(CURDIR)/$(FUZZ)/crashes/ \
	  $(FUZZ)/corpus $(FUZZ)/seeds fuzz/regressions

windows: deps
	cmake --preset mingw >/dev/null
	cmake --build --preset mingw -j $(JOBS) --target Quorvix

windows-test: deps
	cmake --preset mingw >/dev/null
	cmake --build --preset mingw -j $(JOBS)
	cd $(MINGW) && ctest --output-on-failure

clean:
	rm -rf build
