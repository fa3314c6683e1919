# Thin wrappers over CMake. `make demo` and `make test` install what is missing.
BUILD ?= build
JOBS ?= 2
MAKEFLAGS += --no-print-directory

.PHONY: all build compile windows web fuzz-build fuzz coverage test demo bench install package wheel format \
	clean fresh-check

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

# The library for WebAssembly (wasm32-wasi, one thread, no file system), for the
# JavaScript module in web/: $(WEB)/quodrel.wasm.
WEB = build-web
web:
	@scripts/deps.sh web
	@web/build.sh $(WEB)

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

# Line and branch coverage of the program's code from the whole native suite, written
# whole into doc/coverage.md (scripts/coverage.sh).
COVERAGE = build-coverage
coverage:
	@scripts/deps.sh coverage
	@cmake -S . -B $(COVERAGE) -DQUODREL_COVERAGE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
	@cmake --build $(COVERAGE) -j$(JOBS)
	@find $(COVERAGE) -name '*.gcda' -delete
	@chmod -R a+rwX $(COVERAGE) # cases run as another user record their counts too
	@cd $(COVERAGE) && umask 0 && ctest -j1 -E 'formatted|install' >/dev/null || true
	@scripts/coverage.sh $(COVERAGE)

# The program on the PATH, with a desktop launcher and its icon (PREFIX=/usr/local), and
# the archive type; the databases of types and launchers are brought up to date, as
# the packages' triggers do.
# Installs what `make` built and builds nothing, so `make && sudo make install` leaves
# the build folder its owner's (the install list CMake writes there is given back).
PREFIX ?= /usr/local
install:
	@[ -x $(BUILD)/quodrel ] && [ -f $(BUILD)/quodrel.1.gz ] || \
		{ echo "Nothing built yet: run make first (as yourself), then make install."; exit 1; }
	@cmake --install $(BUILD) --prefix $(PREFIX)
	@chown --reference=$(BUILD) $(BUILD)/install_manifest.txt 2>/dev/null || true
	@! command -v update-mime-database >/dev/null || update-mime-database $(PREFIX)/share/mime
	@! command -v update-desktop-database >/dev/null || update-desktop-database -q $(PREFIX)/share/applications

# The Debian packages (the programs at the program's version; the library and its
# development files at the library's; the Python module at its own), a zip of the
# Windows program and its installer, and the Python module's wheel, in dist/.
DIST = dist
package:
	@scripts/deps.sh package
	@$(MAKE) compile windows
	@cd $(BUILD) && cpack -B $(abspath $(DIST)) >/dev/null
	@cd $(BUILD) && cpack -D QUODREL_PACKAGES=library -B $(abspath $(DIST)) >/dev/null
	@cd $(BUILD) && cpack -D QUODREL_PACKAGES=python -B $(abspath $(DIST)) >/dev/null
	@cd $(WINDOWS) && cpack -B $(abspath $(DIST)) >/dev/null
	@cp $(WINDOWS)/quodrel-*-setup.exe $(DIST)/
	@rm -rf $(DIST)/_CPack_Packages
	@python/make_wheel.sh $(BUILD)/libquodrel.so.2 $(DIST) $(BUILD)/wheel >/dev/null
	@ls -1 $(DIST)/*.deb $(DIST)/*.zip $(DIST)/*-setup.exe $(DIST)/*.whl

# The Python module's wheel alone (dist/quodrel-VERSION-py3-none-linux_x86_64.whl),
# carrying the library it runs on: `python3 -m venv v && v/bin/pip install dist/quodrel-*.whl`.
wheel:
	@scripts/deps.sh wheel
	@cmake -S . -B $(BUILD) -DQUODREL_WERROR=ON >/dev/null
	@cmake --build $(BUILD) -j$(JOBS) --target quodrel_shared
	@python/make_wheel.sh $(BUILD)/libquodrel.so.2 $(DIST) $(BUILD)/wheel

# Every part of the suite (native, Wine, packages, sanitized, fuzzers) runs whatever
# became of the others; a summary names the parts that failed (scripts/test.sh).
SANITIZED = $(BUILD)-sanitized
test:
	@scripts/deps.sh test
	@scripts/test.sh $(BUILD) $(WINDOWS) $(SANITIZED) $(JOBS)

# The program alone: no test suites to build first.
demo:
	@scripts/deps.sh build
	@cmake -S . -B $(BUILD) -DQUODREL_WERROR=ON >/dev/null
	@cmake --build $(BUILD) -j$(JOBS) --target quodrel
	@scripts/demo.sh $(BUILD)/quodrel

# Times quodrel against GNU tar, bsdtar and cp -r on a release build, the mount, -d, -u,
# the pipes, and the page in headless Chromium against it; writes bench/RESULTS.md whole
# (bench/results.sh: nothing in it is kept from an earlier run). BENCH_PARTS chooses
# parts (run mount compare update pipes web) and BENCH_OUT another file, for a short try:
# make bench BENCH_RUNS=1 BENCH_PARTS=compare BENCH_OUT=/tmp/r.md
RELEASE = build-release
BENCH_RUNS ?= 7
BENCH_PARTS ?=
BENCH_OUT ?= bench/RESULTS.md
bench:
	@scripts/deps.sh bench
	@cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DQUODREL_TESTS=OFF >/dev/null
	@cmake --build $(RELEASE) -j$(JOBS)
	@case " $(or $(BENCH_PARTS),web) " in *" web "*) web/build.sh $(WEB) >/dev/null ;; esac
	@bash -o pipefail -c 'bench/results.sh $(RELEASE) $(WEB) $(BENCH_RUNS) $(BENCH_PARTS) | tee $(BENCH_OUT).new'
	@mv $(BENCH_OUT).new $(BENCH_OUT)

# The README's first steps on fresh minimal Debian 12 and 13 chroots, with what each
# costs (as root; minutes and gigabytes; not part of make test).
RELEASES ?= bookworm trixie
fresh-check:
	@scripts/fresh_check.sh $(RELEASES)

format:
	@scripts/deps.sh test
	@clang-format -i $$(git ls-files --cached --others --exclude-standard '*.cpp' '*.h' '*.inc')

clean:
	@rm -rf $(BUILD) $(SANITIZED) $(WINDOWS) $(WEB) $(FUZZ) $(COVERAGE) $(RELEASE) $(DIST) demo
