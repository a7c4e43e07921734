# Cross-builds Kestrine.exe for Windows with MinGW-w64 and runs it, and its
# tests, under Wine. Every target first installs whatever Debian packages are
# missing.

BUILD_DIR ?= build
TOOLCHAIN := cmake/mingw-w64-x86_64.cmake
# The Wine loader that CMake found, read back after configuring.
WINE64 = $(shell sed -n 's/^WINE64_EXECUTABLE:FILEPATH=//p' $(BUILD_DIR)/CMakeCache.txt)

.PHONY: all deps configure build run test bench dist lint clean

all: build

deps:
	@tools/install-deps.sh

# Ninja: one build tool, no nested makes talking about their directories.
$(BUILD_DIR)/CMakeCache.txt: | deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_TOOLCHAIN_FILE=$(TOOLCHAIN) \
	  -DCMAKE_BUILD_TYPE=Release

configure: deps $(BUILD_DIR)/CMakeCache.txt

build: configure
	@cmake --build $(BUILD_DIR)

# Runs against the emulated endpoint, whose level is kept under $(BUILD_DIR).
# Builds only what running needs.
run: configure
	@cmake --build $(BUILD_DIR) --target Kestrine emulated_endpoint
	@tools/wine-prefix.sh run "$(WINE64)" $(BUILD_DIR)/wine \
	  $(BUILD_DIR)/emulated_endpoint.dll -- $(BUILD_DIR)/Kestrine.exe $(ARGS)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure

# Median wall time and peak memory against a plain C baseline, under Wine.
bench: configure
	@cmake --build $(BUILD_DIR) --target Kestrine emulated_endpoint volume_baseline
	@tools/bench.sh $(BUILD_DIR) "$(WINE64)"

# The release zip, its SBOM and checksums, in $(BUILD_DIR)/dist; signed and
# with install manifests when the KESTRINE_* settings say so (README).
dist: configure
	@cmake --build $(BUILD_DIR) --target Kestrine
	@$(BUILD_DIR)/package-release

lint:
	@tools/install-deps.sh lint
	@tools/lint.sh

clean:
	rm -rf $(BUILD_DIR)
