# Thin wrappers over CMake. `make demo` and `make test` install what is missing.
BUILD ?= build
JOBS ?= 2
MAKEFLAGS += --no-print-directory

.PHONY: all deps build test demo bench format clean

all: build

deps:
	@scripts/deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DQUODREL_WERROR=ON >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

# The same tests once more on a build with address and undefined-behaviour checks,
# so a memory fault on hostile input fails the suite even where the output looks right.
SANITIZED = $(BUILD)-sanitized
SANITIZER_ENV = ASAN_OPTIONS=exitcode=99:detect_leaks=1 UBSAN_OPTIONS=exitcode=99:print_stacktrace=1

test: build
	@cd $(BUILD) && ctest -j$(JOBS) --output-on-failure
	@cmake -S . -B $(SANITIZED) -DQUODREL_WERROR=ON -DQUODREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
	@cmake --build $(SANITIZED) -j$(JOBS)
	@cd $(SANITIZED) && $(SANITIZER_ENV) ctest -j$(JOBS) --output-on-failure -E 'key_wait|formatted'

demo: build
	@scripts/demo.sh $(BUILD)/quodrel

# Times quodrel against GNU tar and bsdtar; writes bench/results.md.
bench: build
	@bench/run.sh $(BUILD)/quodrel 5 | tee bench/results.table
	@{ sed -n '1,/^<!-- table -->$$/p' bench/results.md; cat bench/results.table; } > bench/results.new
	@mv bench/results.new bench/results.md && rm -f bench/results.table

format: deps
	@clang-format -i $$(git ls-files --cached --others --exclude-standard '*.cpp' '*.h')

clean:
	@rm -rf $(BUILD) $(SANITIZED) demo
