# The two commands of the README: `make run` and `make test`.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: deps configure build run test bench demo package clean

deps:
	@scripts/install-deps

# The project's own checks (make test, and .ci/run through it) build with warnings as
# errors; a user's build does not. CMake keeps the choice in its cache.
WERROR ?=
test: WERROR = -DTORNELO_WERROR=ON

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) $(WERROR) >/dev/null

build: configure
	@cmake --build $(BUILD)

run: build
	@scripts/run-app $(BUILD)/bin/tornelo

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure

demo: build
	@scripts/demo $(BUILD)

# Runs each benchmark program (build/bench also holds CMake's own files and folders).
bench: build
	@cmake --build $(BUILD) --target benchmarks
	@for b in $(BUILD)/bench/bench_*; do \
		[ -f "$$b" ] && [ -x "$$b" ] || continue; \
		echo "== $$b"; QT_QPA_PLATFORM=offscreen "$$b" || exit 1; \
	done

# The Debian package, written into the build folder.
package: build
	@cd $(BUILD) && cpack -G DEB

clean:
	@rm -rf $(BUILD)
