# Thin wrappers over CMake. `make demo` and `make test` install what is missing.
BUILD ?= build
JOBS ?= 2
MAKEFLAGS += --no-print-directory

.PHONY: all build compile windows fuzz-build fuzz coverage test demo bench install package format clean

all: build

# Each target installs the packages of its own purpose (scripts/deps.sh) first.
build:
	@scripts/deps.sh build
	@$(MAKE) compile

compile:
	@cmake -S . -B $(BUILD) -DQUODREL_WERROR=ON >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

# quodrel.exe, cross-built with mingw-w64.
WINDOWS = build-windows
windows:
	@scripts/deps.sh package
	@cmake -S . -B $(WINDOWS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DQUODREL_WERROR=ON >/dev/null
	@cmake --build $(WINDOWS) -j$(JOBS)

# libFuzzer on the archive reader and on whole extractions, FUZZ_SECONDS each (side
# by side). The corpus grows in build-fuzz/corpus and stays out of the repository.
FUZZ = build-fuzz
FUZZ_SECONDS ?= 300
fuzz-build:
	@scripts/deps.sh test
	@cmake -S . -B $(FUZZ) -DCMAKE_CXX_COMPILER=clang++ -DQUODREL_FUZZ=ON -DQUODREL_TESTS=OFF \
		-DQUODREL_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(FUZZ) -j$(JOBS)
fuzz: fuzz-build
	@tests/fuzz/run.sh $(FUZZ) $(FUZZ_SECONDS)

# Line and branch coverage of the program's code from the whole native suite.
COVERAGE = build-coverage
coverage:
	@scripts/deps.sh coverage
	@cmake -S . -B $(COVERAGE) -DQUODREL_COVERAGE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
	@cmake --build $(COVERAGE) -j$(JOBS)
	@find $(COVERAGE) -name '*.gcda' -delete
	@chmod -R a+rwX $(COVERAGE) # cases run as another user record their counts too
	@cd $(COVERAGE) && umask 0 && ctest -j1 -E 'formatted|install' >/dev/null || true
	@gcovr -r . $(COVERAGE) --filter 'archive/' --filter 'create/' --filter 'extract/' \
		--filter 'app/' --filter 'report/' --exclude-unreachable-branches --exclude-throw-branches \
		--print-summary --txt $(COVERAGE)/coverage.txt | tail -3

# The program on the PATH, with a desktop launcher and its icon (PREFIX=/usr/local).
PREFIX ?= /usr/local
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package of the Linux program and a zip of the Windows one, in dist/.
DIST = dist
package:
	@scripts/deps.sh package
	@$(MAKE) compile windows
	@cd $(BUILD) && cpack -B $(abspath $(DIST)) >/dev/null
	@cd $(WINDOWS) && cpack -B $(abspath $(DIST)) >/dev/null
	@rm -rf $(DIST)/_CPack_Packages
	@ls -1 $(DIST)/*.deb $(DIST)/*.zip

# The same tests once more on a build with address and undefined-behaviour checks,
# so a memory fault on hostile input fails the suite even where the output looks right.
SANITIZED = $(BUILD)-sanitized
SANITIZER_ENV = ASAN_OPTIONS=exitcode=99:detect_leaks=1 UBSAN_OPTIONS=exitcode=99:print_stacktrace=1

# Every end-to-end case runs against the native program and against quodrel.exe
# under Wine.
test:
	@scripts/deps.sh test
	@$(MAKE) compile windows
	@cmake -S . -B $(BUILD) -DQUODREL_WINDOWS_EXE=$(abspath $(WINDOWS))/quodrel.exe >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)
	@cd $(BUILD) && ctest -j$(JOBS) --output-on-failure
	@cmake -S . -B $(SANITIZED) -DQUODREL_WERROR=ON -DQUODREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
	@cmake --build $(SANITIZED) -j$(JOBS)
	@cd $(SANITIZED) && $(SANITIZER_ENV) ctest -j$(JOBS) --output-on-failure -E 'key_wait|formatted|install'
	@$(MAKE) fuzz FUZZ_SECONDS=30

# The program alone: no test suites to build first.
demo:
	@scripts/deps.sh build
	@cmake -S . -B $(BUILD) -DQUODREL_WERROR=ON >/dev/null
	@cmake --build $(BUILD) -j$(JOBS) --target quodrel
	@scripts/demo.sh $(BUILD)/quodrel

# Times quodrel against GNU tar, bsdtar and cp -r on a release build; writes
# bench/RESULTS.md (the text above its table marker is kept).
RELEASE = build-release
bench:
	@scripts/deps.sh bench
	@cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DQUODREL_TESTS=OFF >/dev/null
	@cmake --build $(RELEASE) -j$(JOBS)
	@bash -o pipefail -c 'bench/run.sh $(RELEASE)/quodrel 7 | tee bench/table.new'
	@{ sed -n '1,/^<!-- table -->$$/p' bench/RESULTS.md; scripts/machine.sh; echo; \
		cat bench/table.new; } > bench/RESULTS.new
	@mv bench/RESULTS.new bench/RESULTS.md && rm -f bench/table.new

format:
	@scripts/deps.sh test
	@clang-format -i $$(git ls-files --cached --others --exclude-standard '*.cpp' '*.h' '*.inc')

clean:
	@rm -rf $(BUILD) $(SANITIZED) $(WINDOWS) $(FUZZ) $(COVERAGE) $(RELEASE) $(DIST) demo
