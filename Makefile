# Entry points for newcomers and CI. Everything builds into build/ with CMake and Ninja.
BUILD_DIR ?= build
BUILD_TYPE ?= Release
JOBS ?= $(shell nproc)
CLI := $(BUILD_DIR)/bin/zoomreel-cli
DEMO_DIR ?= demo

.PHONY: all deps configure build test demo bench clean

all: build

deps:
	bash scripts/install-deps.sh

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

configure: $(BUILD_DIR)/build.ninja

build: deps configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# Sample maps of a Mandelbrot-set zoom, converted into keyframes, then the keyframe list.
demo: build
	rm -rf $(DEMO_DIR)
	$(CLI) sample $(DEMO_DIR)
	$(CLI) convert $(DEMO_DIR)
	$(CLI) info $(DEMO_DIR)

bench: build
	$(BUILD_DIR)/bin/resampler_bench
	$(BUILD_DIR)/bin/conversion_bench
	$(BUILD_DIR)/bin/render_bench
	$(BUILD_DIR)/bin/movie_bench

clean:
	rm -rf $(BUILD_DIR)
