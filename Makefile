# Front door of the build. `make run` builds the program alone and runs it
# on its bundled sample; `make test` builds and runs every test; `make` builds
# everything into build/. Each installs what it needs first (tools/install-deps).
#
# Every path handed on is quoted: the tree may lie under a folder whose name
# has blanks or non-ASCII letters. `$(call path,DIR)` is DIR made absolute.
path = $(if $(filter /%,$(1)),$(1),$(CURDIR)/$(1))
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Every build that the tests use treats a warning as an error.
TEST_FLAGS := -DGRADES_WERROR=ON
# What is built is dated by the last commit unless a date is given, so that
# two builds of one commit are the same byte for byte.
ifeq ($(origin SOURCE_DATE_EPOCH),undefined)
SOURCE_DATE_EPOCH := $(shell git log -1 --format=%ct 2>/dev/null)
endif
ifneq ($(SOURCE_DATE_EPOCH),)
export SOURCE_DATE_EPOCH
endif

.PHONY: all build deps test test-linux lint run configured install package package-check clean test-asan fuzz-build \
	fuzz fuzz-smoke chaos windows windows-test linux-i686 linux-i686-test linux-aarch64 linux-aarch64-test \
	linux-armhf linux-armhf-test linux-riscv64 linux-riscv64-test linux-s390x linux-s390x-test

all: build

deps:
	@tools/install-deps test

# The tests build only where asked for: the program itself needs nothing
# beyond the compiler, so `make run` configures without them when it comes
# first, and every other target switches them on.
build:
	cmake -S . -B "$(BUILD_DIR)" $(CMAKE_FLAGS) $(TEST_FLAGS) -DGRADES_BUILD_TESTS=ON
	cmake --build "$(BUILD_DIR)" -j $(JOBS)

# Every part of the tests this machine can be set up for, then a summary
# (tools/test-all): the x86-64 tests, the sanitizer run, the fuzzers, then
# the Windows, 32-bit x86, 64-bit ARM, 32-bit ARM, RISC-V and s390x builds.
# Each part is a target of its own too.
test:
	@tools/test-all

test-linux:
	@tools/install-deps linux
	@$(MAKE) --no-print-directory build
	ctest --test-dir "$(BUILD_DIR)" --output-on-failure -j $(JOBS)

# The static gate (tools/lint): every file laid out as .clang-format says,
# and nothing that .clang-tidy's checks find in the program's own sources,
# read with a clang configuration in build-lint/.
lint:
	@tools/install-deps lint
	@tools/lint

# The chaos run of the program as a Unix job (tests/grades/chaos_run.cpp)
# for CHAOS_SECONDS; `make test` runs it for a minute. CHAOS_SEED replays a
# run's plan.
CHAOS_SECONDS ?= 600
chaos: build
	"$(BUILD_DIR)/tests/grades/grades_chaos" --seconds $(CHAOS_SECONDS) $(if $(CHAOS_SEED),--seed $(CHAOS_SEED))

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer, and
# the fuzzers (clang, libFuzzer), each in a build folder of its own. `make
# fuzz` runs every fuzzer for FUZZ_SECONDS, `make test` for
# FUZZ_SMOKE_SECONDS, from the seed corpus in fuzz/corpus/<name>/ and the
# inputs found so far in $(FUZZ_DIR)/corpus/<name>/; a failing input lands
# in $(FUZZ_DIR)/artifacts/.
ASAN_DIR ?= build-asan
FUZZ_DIR ?= build-fuzz
FUZZERS := read_path parse_integer format_real key_decoder
FUZZ_SECONDS ?= 300
FUZZ_SMOKE_SECONDS ?= 12

# The sanitizer build uses clang: the gcc build is tested as it is above,
# and the routines that must keep a frame of their own are spelled for
# clang too.
test-asan:
	@tools/install-deps asan
	@# A folder configured with gcc before cannot change its compiler.
	@grep -qs '^CMAKE_CXX_COMPILER:.*clang' "$(ASAN_DIR)/CMakeCache.txt" || rm -rf "$(ASAN_DIR)"
	CC=clang CXX=clang++ cmake -S . -B "$(ASAN_DIR)" $(CMAKE_FLAGS) $(TEST_FLAGS) -DGRADES_SANITIZE=ON
	cmake --build "$(ASAN_DIR)" -j $(JOBS)
	ctest --test-dir "$(ASAN_DIR)" --output-on-failure -j $(JOBS)

$(FUZZ_DIR)/CMakeCache.txt:
	@tools/install-deps fuzz
	CC=clang CXX=clang++ cmake -S . -B "$(FUZZ_DIR)" $(CMAKE_FLAGS) $(TEST_FLAGS) -DGRADES_FUZZ=ON -DGRADES_SANITIZE=ON \
	  -DGRADES_BUILD_TESTS=OFF

fuzz-build: $(FUZZ_DIR)/CMakeCache.txt
	cmake --build "$(FUZZ_DIR)" -j $(JOBS) --target fuzzers

fuzz: FUZZ_TIME = $(FUZZ_SECONDS)
fuzz-smoke: FUZZ_TIME = $(FUZZ_SMOKE_SECONDS)
fuzz fuzz-smoke: fuzz-build
	@mkdir -p "$(FUZZ_DIR)/artifacts"
	@for f in $(FUZZERS); do \
	  case $$f in format_real) len=32;; parse_integer) len=300;; *) len=4096;; esac; \
	  mkdir -p "$(FUZZ_DIR)/corpus/$$f"; \
	  echo "fuzzing $$f for $(FUZZ_TIME) s"; \
	  "$(FUZZ_DIR)/fuzz/$${f}_fuzzer" -max_total_time=$(FUZZ_TIME) -max_len=$$len -timeout=10 \
	    "-artifact_prefix=$(FUZZ_DIR)/artifacts/$$f-" "$(FUZZ_DIR)/corpus/$$f" "fuzz/corpus/$$f" \
	    > "$(FUZZ_DIR)/$$f.log" 2>&1 || { tail -n 40 "$(FUZZ_DIR)/$$f.log"; exit 1; }; \
	  grep -h 'DONE' "$(FUZZ_DIR)/$$f.log"; \
	done

# The same program as a 32-bit Windows console program (MinGW-w64) in
# build-windows/, and its tests under Wine, which compare it with the Linux
# build in $(BUILD_DIR).
WINDOWS_DIR := build-windows
windows:
	@tools/install-deps windows
	cmake --preset windows "-DGRADES_LINUX_BUILD=$(call path,$(BUILD_DIR))"
	cmake --build "$(WINDOWS_DIR)" -j $(JOBS)

windows-test: windows build
	ctest --test-dir "$(WINDOWS_DIR)" --output-on-failure -j $(JOBS)

# The same program for the other Linux processors, each with Debian's cross
# compiler in build-<name>/, its tests comparing it with the x86-64 build in
# $(BUILD_DIR): 32-bit x86 (the program's own processor, x87 arithmetic),
# and, with the software 80-bit arithmetic under qemu-user, 64-bit ARM,
# 32-bit ARM with hardware floating point (Debian's armhf), 64-bit RISC-V
# and the big-endian s390x. `make linux-NAME` builds, `make linux-NAME-test`
# also tests.
FOREIGN_LINUX := i686 aarch64 armhf riscv64 s390x
define foreign_linux
linux-$(1):
	@tools/install-deps $(1)
	cmake --preset linux-$(1) "-DGRADES_LINUX_BUILD=$$(call path,$$(BUILD_DIR))"
	cmake --build "build-$(1)" -j $$(JOBS)

linux-$(1)-test: linux-$(1) build
	ctest --test-dir "build-$(1)" --output-on-failure -j $$(JOBS)
endef
$(foreach name,$(FOREIGN_LINUX),$(eval $(call foreign_linux,$(name))))

# The sample grade file goes into a scratch drive root under build/, where
# the program finds E:\devpas\jegyek\egeszek.txt; it runs in this terminal.
DRIVE_ROOT = $(call path,$(BUILD_DIR))/drive
configured:
	@test -f "$(BUILD_DIR)/CMakeCache.txt" || cmake -S . -B "$(BUILD_DIR)" $(CMAKE_FLAGS) -DGRADES_BUILD_TESTS=OFF

run:
	@tools/install-deps run
	@$(MAKE) --no-print-directory configured
	cmake --build "$(BUILD_DIR)" -j $(JOBS) --target grades
	mkdir -p "$(DRIVE_ROOT)/e/devpas/jegyek"
	cp grades/sample/egeszek.txt "$(DRIVE_ROOT)/e/devpas/jegyek/egeszek.txt"
	GRADES_DRIVE_ROOT="$(DRIVE_ROOT)" "$(BUILD_DIR)/grades"

# grades and realtotext with their manual pages, under PREFIX (DESTDIR in
# front, for a staged install).
PREFIX ?= /usr/local
install:
	@tools/install-deps run
	@$(MAKE) --no-print-directory configured
	cmake --build "$(BUILD_DIR)" -j $(JOBS) --target installable
	DESTDIR="$(DESTDIR)" cmake --install "$(BUILD_DIR)" --prefix "$(PREFIX)"

# A Debian package in $(BUILD_DIR)/packages, with its debug information in a
# package of its own beside it, and a zip of the Windows build in
# $(WINDOWS_DIR)/packages. The configure steps run each time: they date the
# packages by the last commit. cpack packs under umask 022 and in UTC, so
# that neither the modes it packs nor the zip's times (local times there)
# depend on who packs where, and in a UTF-8 locale, without which its
# archiver cannot read a path with non-ASCII letters.
PACK := umask 022 && TZ=UTC LC_ALL=C.UTF-8 cpack
package:
	@tools/install-deps package
	@$(MAKE) --no-print-directory configured
	cmake -S . -B "$(BUILD_DIR)"
	cmake --build "$(BUILD_DIR)" -j $(JOBS) --target installable
	cd "$(BUILD_DIR)" && $(PACK)
	cmake --preset windows "-DGRADES_LINUX_BUILD=$(call path,$(BUILD_DIR))"
	cmake --build "$(WINDOWS_DIR)" -j $(JOBS) --target installable
	cd "$(WINDOWS_DIR)" && $(PACK)

# The packages as Debian's tools judge them (tools/package-check): `make
# package` twice, in two copies of the tree at different paths, must give
# the same bytes; lintian and hardening-check must find nothing.
package-check:
	@tools/install-deps package-check
	@tools/package-check

clean:
	rm -rf "$(BUILD_DIR)"
