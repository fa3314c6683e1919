# Thin wrappers over CMake. `make demo` and `make test` install what is missing.
BUILD ?= build
JOBS ?= 2
MAKEFLAGS += --no-print-directory

.PHONY: all deps build test demo format clean

all: build

deps:
	@scripts/deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DQUODREL_WERROR=ON >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

test: build
	@cd $(BUILD) && ctest -j$(JOBS) --output-on-failure

demo: build
	@scripts/demo.sh $(BUILD)/quodrel

format: deps
	@clang-format -i $$(git ls-files --cached --others --exclude-standard '*.cpp' '*.h')

clean:
	@rm -rf $(BUILD) demo
