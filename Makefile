# The two set-up commands. Both install the Debian packages first (scripts/install-deps.sh,
# which does nothing when everything is there), then configure and build in build/.
# `make test` also builds everything under AddressSanitizer and UndefinedBehaviorSanitizer in
# build-sanitized/ and runs the whole suite in both builds.
BUILD_DIR ?= build
SANITIZED_DIR ?= build-sanitized
JOBS ?= $(shell nproc)

.PHONY: run test install build build-sanitized deps configure clean

run: build
	$(BUILD_DIR)/src/brisklet

test: build build-sanitized
	ctest --test-dir $(BUILD_DIR) --output-on-failure --parallel $(JOBS)
	ctest --test-dir $(SANITIZED_DIR) --output-on-failure --parallel $(JOBS)

# Installs under PREFIX (default /usr/local); DESTDIR=… stages the files for a package.
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix $(PREFIX)

build: configure
	cmake --build $(BUILD_DIR) --parallel $(JOBS)

build-sanitized: deps
	cmake -S . -B $(SANITIZED_DIR) -G Ninja -DBRISKLET_SANITIZE=ON
	cmake --build $(SANITIZED_DIR) --parallel $(JOBS)

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja

deps:
	@if [ "$$(id -u)" -eq 0 ]; then bash scripts/install-deps.sh; \
	else sudo bash scripts/install-deps.sh; fi

clean:
	rm -rf $(BUILD_DIR) $(SANITIZED_DIR)
