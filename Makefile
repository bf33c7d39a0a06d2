# Front door of the build. `make` builds into build/, `make test` runs every
# test, `make run` runs the program on its bundled sample.
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all build deps test run clean

all: build

deps:
	@tools/install-deps

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: deps
	$(MAKE) build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# The sample grade file goes into a scratch drive root under build/, where
# the program finds E:\devpas\jegyek\egeszek.txt; it runs in this terminal.
DRIVE_ROOT := $(abspath $(BUILD_DIR))/drive
run: deps
	$(MAKE) build
	mkdir -p $(DRIVE_ROOT)/e/devpas/jegyek
	cp grades/sample/egeszek.txt $(DRIVE_ROOT)/e/devpas/jegyek/egeszek.txt
	GRADES_DRIVE_ROOT=$(DRIVE_ROOT) $(BUILD_DIR)/grades

clean:
	rm -rf $(BUILD_DIR)
