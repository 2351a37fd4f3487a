# The two set-up commands. Both install the Debian packages first (scripts/install-deps.sh,
# which does nothing when everything is there), then configure and build in build/.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: run test build deps configure clean

run: build
	$(BUILD_DIR)/src/brisklet

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure --parallel $(JOBS)

build: configure
	cmake --build $(BUILD_DIR) --parallel $(JOBS)

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja

deps:
	@if [ "$$(id -u)" -eq 0 ]; then bash scripts/install-deps.sh; \
	else sudo bash scripts/install-deps.sh; fi

clean:
	rm -rf $(BUILD_DIR)
