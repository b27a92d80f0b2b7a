# Entry points for newcomers and CI. Everything builds into build/ with CMake and Ninja.
BUILD_DIR ?= build
BUILD_TYPE ?= Release
JOBS ?= $(shell nproc)
CLI := $(BUILD_DIR)/bin/zoomreel-cli
DEMO_DIR ?= demo

.PHONY: all deps configure build test demo run screenshots bench clean fuzz sanitize

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

# The demo's setup, written the way a script would, with "zoomreel-cli set": maps as wide as the movie's 1280 x 720
# frames; the 3D landscape framed to fill them (heights on a logarithmic scale, 58 degrees from above, shifted down
# so that the near edge reaches the bottom and the far peaks stay inside the top); relief shading; and a palette of
# valleys, rock and snow. Everything else keeps its default.
DEMO_SIZE ?= 1280x720
DEMO_SETTINGS := 3d.logIter=true 3d.projectionAngle=58 3d.zScale=120 3d.vertShift=260 3d.gaussianFilter=12 \
  relief.active=true palette.usePalette=true \
  'palette.points=[[0, "\#12361c"], [10, "\#2e6a2c"], [25, "\#6d8f3b"], [45, "\#9a8048"], \
                  [80, "\#7b6a5a"], [140, "\#9d9a98"], [220, "\#f2f2f4"], [511, "\#ffffff"]]'

# Sample maps of a Mandelbrot-set zoom, converted into keyframes, then a short movie of keyframes 8 to 12 as a 3D
# landscape with the zoom caption.
demo: build
	rm -rf $(DEMO_DIR)
	$(CLI) sample $(DEMO_DIR) --size $(DEMO_SIZE)
	$(CLI) convert $(DEMO_DIR)
	$(CLI) info $(DEMO_DIR)
	$(CLI) set $(DEMO_DIR) $(DEMO_SETTINGS)
	$(CLI) render $(DEMO_DIR) --from 8 --to 12 --zoom-text > $(DEMO_DIR)/movies.txt
	@echo
	@echo "The movie: $$(cat $(DEMO_DIR)/movies.txt)"
	@echo "Watch it with any video player, for example: ffplay '$$(head -n 1 $(DEMO_DIR)/movies.txt)'"
	@echo "Its settings: '$(CLI) show $(DEMO_DIR)'."
	@echo "The desktop program: 'make run' (or build/bin/zoomreel); open $(DEMO_DIR) with File > Folder open.."

# The desktop program. It keeps its video settings and recent folders in the directory it is started from (here);
# sample maps to open and convert are made in $(RUN_MAPS) the first time, with the demo's settings.
RUN_MAPS ?= demo-maps
run: build
	@[ -d $(RUN_MAPS) ] || { $(CLI) sample $(RUN_MAPS) --size $(DEMO_SIZE) && $(CLI) set $(RUN_MAPS) $(DEMO_SETTINGS); }
	@echo "Open the folder $(CURDIR)/$(RUN_MAPS) with File > Folder open.. and let Zoomreel convert its maps."
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  echo "No display here (neither DISPLAY nor WAYLAND_DISPLAY is set): start build/bin/zoomreel on a desktop."; \
	  exit 1; \
	fi
	$(BUILD_DIR)/bin/zoomreel

# The README's pictures: the desktop program, made by its own window on the offscreen platform, and a still of the
# demo's movie (keyframes 8 to 12 at 10.4, at the default frame size whatever VFS.qvs says).
SHOT_MAPS := $(BUILD_DIR)/screenshot-maps
screenshots: build
	rm -rf $(SHOT_MAPS)
	$(CLI) sample $(SHOT_MAPS) --size $(DEMO_SIZE) > /dev/null
	$(CLI) convert $(SHOT_MAPS) --preview-block 4 > /dev/null
	$(CLI) set $(SHOT_MAPS) $(DEMO_SETTINGS)
	$(CLI) frame $(SHOT_MAPS) --from 8 --to 12 --at 10.4 --width 1280 --height3d 720 \
	  --out docs/screenshots/demo-landscape.png > /dev/null
	$(BUILD_DIR)/bin/zoomreel-screenshots $(SHOT_MAPS) docs/screenshots

bench: build
	$(BUILD_DIR)/bin/resampler_bench
	$(BUILD_DIR)/bin/conversion_bench
	$(BUILD_DIR)/bin/check_bench
	$(BUILD_DIR)/bin/render_bench
	$(BUILD_DIR)/bin/movie_bench
	$(BUILD_DIR)/bin/soundtrack_bench
	$(BUILD_DIR)/bin/beats_bench
	$(BUILD_DIR)/bin/preview_bench
	$(BUILD_DIR)/bin/editor_bench

# The file readers under libFuzzer (clang, ASan, UBSan), each for FUZZ_SECONDS, from seeds made by the program's
# own writers and the inputs kept in tests/fuzz_regressions/. Corpora and findings stay in build-fuzz/.
FUZZ_SECONDS ?= 60
FUZZ_DIR ?= build-fuzz
fuzz: deps
	cmake -S fuzz -B $(FUZZ_DIR) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	bash fuzz/run_fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

# The whole test suite built with the address and undefined-behaviour sanitizers.
SANITIZE_DIR ?= build-sanitize
SANITIZE_FLAGS := -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined
sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOOMREEL_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS="$(SANITIZE_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE_FLAGS)"
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	QTEST_DISABLE_STACK_TRACE=1 ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR)
