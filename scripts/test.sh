#!/usr/bin/env bash
# Builds and runs the whole test suite three ways: a normal build, an AddressSanitizer +
# UndefinedBehaviorSanitizer build and a ThreadSanitizer build. Any failure or sanitizer
# report fails the run. Usage: scripts/test.sh [normal|asan|tsan ...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(normal asan tsan)
jobs=$(nproc)

# Every sanitizer report ends the process with a failure status, so the test fails.
export ASAN_OPTIONS="abort_on_error=0:halt_on_error=1:detect_leaks=1:strict_string_checks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# The suppressions name only third-party libraries; see the file for why.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp"

for build in "${builds[@]}"; do
  case "$build" in
    normal) sanitize="" ;;
    asan) sanitize="address" ;;
    tsan) sanitize="thread" ;;
    *) echo "unknown build '$build' (normal, asan, tsan)" >&2; exit 2 ;;
  esac
  dir="build/$build"
  echo "=== $build: configure and build in $dir"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSTATION_SANITIZE="$sanitize" -DSTATION_WERROR=ON >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "=== $build: test"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --no-tests=error
done
echo "=== all builds passed: ${builds[*]}"
