#!/usr/bin/env bash
# Runs every part of the test suite, each whatever became of the others, then says
# which passed and fails if any did not:
#   native     unit tests and the end-to-end cases against the Linux program (with the
#              default, 1 and 16 threads), terminal key waits, formatting, the Python
#              module against the build
#   Wine       the same end-to-end cases against quodrel.exe, its key waits and icon,
#              and its installer (in a Wine prefix of its own)
#   packages   the manual pages, the desktop install, the Debian packages, lintian, and
#              the Python module's tests from the unpacked packages
#   sanitized  the native cases again with AddressSanitizer, UBSan and leak checks
#              (not the Python module, whose interpreter is not built with them, nor
#              the WebAssembly cases, which the native part runs)
#   fuzzers    the three libFuzzer targets for FUZZ_SECONDS (30) each, side by side
# Usage: scripts/test.sh BUILD WINDOWS SANITIZED JOBS
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build} windows=${2:-build-windows} sanitized=${3:-build-sanitized} jobs=${4:-2}
packages_tests='manual_page_renders|install_for_desktop|debian_package'
results=()
failed=0
part() { # name, then the command
    local name=$1
    shift
    echo
    echo "=== $name"
    if "$@"; then
        results+=("$(printf '%-10s passed' "$name")")
    else
        results+=("$(printf '%-10s FAILED' "$name")")
        failed=$((failed + 1))
    fi
}

# The Windows program first: the native build registers the Wine cases only when it
# exists.
exe=""
if make --no-print-directory windows WINDOWS="$windows" JOBS="$jobs"; then
    exe=$(realpath "$windows/quodrel.exe")
fi
configure_native() {
    cmake -S . -B "$build" -DQUODREL_WERROR=ON -DQUODREL_WINDOWS_EXE="$exe" >/dev/null &&
        cmake --build "$build" -j"$jobs"
}
native() {
    configure_native && (cd "$build" && ctest -j"$jobs" --output-on-failure -E "^wine|$packages_tests")
}
wine_part() {
    [ -n "$exe" ] || { echo "quodrel.exe was not built"; return 1; }
    (cd "$build" && ctest -j"$jobs" --output-on-failure -R '^wine')
}
packages_part() { (cd "$build" && ctest --output-on-failure -R "$packages_tests"); }
sanitized_part() {
    cmake -S . -B "$sanitized" -DQUODREL_WERROR=ON -DQUODREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
        >/dev/null && cmake --build "$sanitized" -j"$jobs" &&
        (cd "$sanitized" && ASAN_OPTIONS=exitcode=99:detect_leaks=1 \
            UBSAN_OPTIONS=exitcode=99:print_stacktrace=1 \
            ctest -j"$jobs" --output-on-failure \
            -E "key_wait|formatted|library_for_other|library_is_a|python_module|^web_|$packages_tests")
}
fuzz_part() { make --no-print-directory fuzz FUZZ_SECONDS="${FUZZ_SECONDS:-30}" JOBS="$jobs"; }

part native native
part Wine wine_part
part packages packages_part
part sanitized sanitized_part
part fuzzers fuzz_part

echo
echo "=== summary"
printf '%s\n' "${results[@]}"
echo "parts: $((${#results[@]} - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
