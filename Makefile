# Two commands for people:
#   make run    build velmora.exe and run it on a demo prefix of synthesized samples
#   make test   every build flavour and every test suite (what CI runs)
# Both install missing Debian packages first (scripts/install-deps.sh).
# `make dist` writes the release files into dist/ (scripts/dist.sh).
# The other targets are the stages of `make test`, usable one by one.

SHELL := /bin/bash
.SHELLFLAGS := -eu -o pipefail -c
# Stages share the machine's two cores; they run one after the other.
.NOTPARALLEL:
MAKEFLAGS += --no-print-directory

JOBS   ?= 2
BUILD  ?= build
CMAKE  ?= cmake
CTEST  ?= ctest
ROOT   := $(CURDIR)
WINESERVER ?= /usr/lib/wine/wineserver
STAGE_LOG := $(BUILD)/stage-times.txt
# Why 32-bit Wine could not be installed, when install-deps tried and failed.
DEPS_NOTE := $(BUILD)/deps-note.txt
# Prints nothing and succeeds where the shipped 32-bit programs can run under
# 32-bit Wine; otherwise prints why not (status 1), or fails (status 2).
I686_WINE = sh scripts/i686-wine.sh $(DEPS_NOTE)

NATIVE := $(BUILD)/native
WIN64  := $(BUILD)/win64
WIN32  := $(BUILD)/win32
WIN32T := $(BUILD)/win32-test
ASAN   := $(BUILD)/asan
FUZZ   := $(BUILD)/fuzz

CTEST_FLAGS := --output-on-failure --no-tests=error -j $(JOBS)
# Every flavour must build without a warning.
STRICT := -DVELMORA_WERROR=ON

# $(call timed,stage) runs `make stage` and records how long it took.
define timed
	@t0=$$(date +%s); \
	$(MAKE) $(1); \
	echo "$(1): $$(( $$(date +%s) - t0 )) s" | tee -a $(STAGE_LOG)
endef

.PHONY: run run-cli test deps clean bench dist dist-test \
        native native-test win64 win64-test win32 win32-imports win32-test win32-stage win32-offline \
        asan asan-test fuzz fuzz-test

deps:
	@sh scripts/install-deps.sh $(DEPS_NOTE)

test: deps
	@mkdir -p $(BUILD); : > $(STAGE_LOG)
	$(call timed,native-test)
	$(call timed,win64-test)
	$(call timed,win32-stage)
	$(call timed,asan-test)
	$(call timed,fuzz-test)
	$(call timed,dist-test)
	@skipped=$$(grep -c '^not run: ' $(STAGE_LOG) || true); \
	if [ "$$skipped" -eq 0 ]; then echo "== all stages passed"; \
	else echo "== all stages passed; $$skipped suites were not run, each named below with the reason"; fi; \
	cat $(STAGE_LOG)

# The configure steps that several targets share.
CONFIGURE_NATIVE = $(CMAKE) -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(STRICT)
CONFIGURE_WIN64 = $(CMAKE) -S . -B $(WIN64) -DCMAKE_BUILD_TYPE=Release $(STRICT) \
    -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/toolchain-mingw-x86_64.cmake
# The shipped 32-bit programs, with the helper programs of their end-to-end
# tests; GoogleTest cannot be built by this compiler.
# MANIFEST_READER (a win64 velmora-show-manifest.exe) reads the programs'
# manifests under wine64 where 32-bit programs cannot run.
MANIFEST_READER ?=
CONFIGURE_WIN32 = $(CMAKE) -S . -B $(WIN32) -DCMAKE_BUILD_TYPE=Release $(STRICT) \
    -DVELMORA_TESTS=OFF -DVELMORA_PROGRAM_TESTS=ON -DVELMORA_MANIFEST_READER=$(MANIFEST_READER) \
    -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/toolchain-mingw-i686.cmake

# --- native (g++) ----------------------------------------------------------
native:
	$(CONFIGURE_NATIVE)
	$(CMAKE) --build $(NATIVE) -j $(JOBS)

native-test: native
	$(CTEST) --test-dir $(NATIVE) $(CTEST_FLAGS)

# --- win64 (mingw, tests under wine64) ---------------------------------------
win64:
	$(CONFIGURE_WIN64)
	$(CMAKE) --build $(WIN64) -j $(JOBS)

# The prefixes' wineservers are stopped whatever the outcome, so no wine
# process outlives the run.
win64-test: win64
	rc=0; $(CTEST) --test-dir $(WIN64) $(CTEST_FLAGS) || rc=$$?; \
	sh cmake/stop-wineservers.sh $(WIN64); exit $$rc

# --- win32 (the shipped i686 programs, run under 32-bit Wine) -----------------
win32:
	$(CONFIGURE_WIN32)
	$(CMAKE) --build $(WIN32) -j $(JOBS)
	$(MAKE) win32-imports

# The shipped programs must start on Windows 98 and NT 4.0: each may import
# only what the allowlist holds. The second command proves that the check bites.
IMPORT_ALLOWLIST := tests/win98_nt4_imports.txt
win32-imports:
	sh tests/check_imports.sh $(IMPORT_ALLOWLIST) $(WIN32)/cli/velmora-scan.exe $(WIN32)/app/velmora.exe
	sh tests/check_imports_test.sh $(IMPORT_ALLOWLIST) $(WIN32)/cli/velmora-scan.exe

# The shipped programs end to end as Windows 98, NT 4.0 and XP, then every
# GoogleTest suite (unit, resident sweep, dialog) built for i686 by the
# -posix compiler, all under 32-bit Wine.
win32-test: win32
	rc=0; $(CTEST) --test-dir $(WIN32) $(CTEST_FLAGS) || rc=$$?; \
	sh cmake/stop-wineservers.sh $(WIN32); [ $$rc -eq 0 ] || exit $$rc; \
	$(CMAKE) -S . -B $(WIN32T) -DCMAKE_BUILD_TYPE=Release $(STRICT) -DVELMORA_PROGRAM_TESTS=OFF \
	    -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/toolchain-mingw-i686-tests.cmake; \
	$(CMAKE) --build $(WIN32T) -j $(JOBS); \
	$(CTEST) --test-dir $(WIN32T) $(CTEST_FLAGS) || rc=$$?; \
	sh cmake/stop-wineservers.sh $(WIN32T); exit $$rc

# The i686 stage of `make test`: every suite where 32-bit Wine runs; where it
# cannot, every check that needs no 32-bit execution, and a line naming each
# suite not run, with the reason. A probe that fails is an error, never a
# reason to skip.
win32-stage:
	@rc=0; reason=$$($(I686_WINE)) || rc=$$?; \
	case $$rc in \
	0) $(MAKE) win32-test ;; \
	1) $(MAKE) win32-offline I686_REASON="$$reason" ;; \
	*) echo "make: the 32-bit probe failed; see above" >&2; exit 1 ;; \
	esac

# The shipped programs built and import-checked, their manifests read from
# the files by the win64 reader under wine64; the i686 suites that would run
# them are named, one line each, in the stage log and on the screen.
I686_REASON ?= $(shell $(I686_WINE))
win32-offline:
	$(CONFIGURE_WIN64)
	$(CMAKE) --build $(WIN64) -j $(JOBS) --target velmora-show-manifest
	$(MAKE) win32 MANIFEST_READER=$(ROOT)/$(WIN64)/tests/programs/velmora-show-manifest.exe
	rc=0; $(CTEST) --test-dir $(WIN32) $(CTEST_FLAGS) -R '^manifest_' || rc=$$?; \
	sh cmake/stop-wineservers.sh $(WIN32); exit $$rc
	$(CMAKE) -S . -B $(WIN32T) -DCMAKE_BUILD_TYPE=Release $(STRICT) -DVELMORA_PROGRAM_TESTS=OFF \
	    -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/toolchain-mingw-i686-tests.cmake >/dev/null
	@{ $(CTEST) --test-dir $(WIN32) -N -E '^manifest_'; $(CTEST) --test-dir $(WIN32T) -N; } | \
	    sed -n 's/^ *Test *#[0-9]*: *//p' | \
	    sh scripts/not-run.sh "i686 under 32-bit Wine" "$(I686_REASON)" | tee -a $(STAGE_LOG)

# --- native with AddressSanitizer + UBSan ------------------------------------
asan:
	$(CMAKE) -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON $(STRICT)
	$(CMAKE) --build $(ASAN) -j $(JOBS)

asan-test: asan
	UBSAN_OPTIONS=print_stacktrace=1 $(CTEST) --test-dir $(ASAN) $(CTEST_FLAGS)

# --- libFuzzer (clang) ---------------------------------------------------------
fuzz:
	$(CMAKE) -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_CXX_COMPILER=clang++ -DVELMORA_FUZZ=ON -DVELMORA_TESTS=OFF $(STRICT)
	$(CMAKE) --build $(FUZZ) -j $(JOBS)

# Each harness in turn for VELMORA_FUZZ_SECONDS (60 s by default).
fuzz-test: fuzz
	$(CMAKE) --build $(FUZZ) --target fuzz-run -j 1

# --- release -----------------------------------------------------------------
# The Windows zip, the static Linux scanner, its Debian package and their
# sums, reproducible from the last commit.
dist: deps
	sh scripts/dist.sh $(ROOT)/dist $(BUILD)

# Two clones of the last commit build dist apart and must agree byte for
# byte; then the files are checked as downloaded (tests/dist_test.sh).
dist-test: deps
	VELMORA_NOT_RUN_LOG=$(ROOT)/$(STAGE_LOG) VELMORA_DEPS_NOTE=$(ROOT)/$(DEPS_NOTE) sh tests/dist_test.sh $(BUILD)/dist-test

# --- demo --------------------------------------------------------------------
# The program users get (the shipped i686 velmora.exe) under 32-bit Wine, in
# a demo prefix whose only drive C: holds freshly synthesized harmless
# samples. With a display the person uses the dialog; without one it runs
# under a virtual display: "&Analizar" is pressed, the restart warning
# answered, and a screenshot of the report saved.
# Where 32-bit programs cannot run, the shipped programs are still built, and
# the win64 velmora.exe, from the same sources, is shown under wine64.
run: deps
	$(CONFIGURE_WIN32)
	$(CMAKE) --build $(WIN32) -j $(JOBS) --target velmora velmora-scan velmora-synth velmora-drive
	@rc=0; reason=$$($(I686_WINE)) || rc=$$?; \
	case $$rc in \
	0) sh scripts/run-dialog.sh $(WIN32) $(WIN32)/demo ;; \
	1) echo "make run: the shipped 32-bit velmora.exe is built ($(WIN32)/app) but cannot run here: $$reason;" \
	        "showing the win64 velmora.exe, built from the same sources, under wine64 instead"; \
	   $(CONFIGURE_WIN64) >/dev/null && \
	   $(CMAKE) --build $(WIN64) -j $(JOBS) --target velmora velmora-synth velmora-drive && \
	   sh scripts/run-dialog.sh $(WIN64) $(WIN64)/demo ;; \
	*) echo "make run: the 32-bit probe failed; see above" >&2; exit 1 ;; \
	esac

# The command-line scanner on a fresh synthesized tree, disinfected as the
# dialog would do it. velmora-scan exits 1 when it finds something, which is
# the point of the demo; only 2 (an error) or a crash fails the run.
run-cli: deps
	$(CONFIGURE_NATIVE)
	$(CMAKE) --build $(NATIVE) -j $(JOBS) --target velmora-scan velmora-synth
	rm -rf $(NATIVE)/demo
	"$$(cat $(NATIVE)/velmora-synth.path)" $(NATIVE)/demo
	rc=0; $(NATIVE)/cli/velmora-scan $(NATIVE)/demo || rc=$$?; \
	if [ $$rc -ne 0 ] && [ $$rc -ne 1 ]; then \
	    echo "velmora-scan failed with exit status $$rc" >&2; exit 1; \
	fi

# --- benchmark (not part of `make test`) ---------------------------------------
# The scan against a bare reader on one thread and on several, its win64
# build under wine64, the shipped i686 build under 32-bit Wine and a lean
# clamscan, on synthesized trees, then the scan of mail folders and archives
# against reading every byte; writes bench/results.md and the chart
# bench/results.svg. BENCH_ARGS go to bench/bench.py, e.g.
#   make bench BENCH_ARGS='--sizes 2000 --runs 1 --inside-mb 64'
BENCH_ARGS ?=
bench: deps
	$(CONFIGURE_NATIVE)
	$(CMAKE) --build $(NATIVE) -j $(JOBS) --target velmora-scan velmora-bench-tree velmora-bare-reader velmora-alloc-count \
	    velmora-bench-inside
	$(CONFIGURE_WIN64)
	$(CMAKE) --build $(WIN64) -j $(JOBS) --target velmora-scan
	$(CONFIGURE_WIN32)
	$(CMAKE) --build $(WIN32) -j $(JOBS) --target velmora-scan
	sh bench/run.sh $(BENCH_ARGS)

clean:
	rm -rf $(BUILD)
