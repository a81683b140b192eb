#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite. The tests start
# their own PostgreSQL cluster under the build folder and stop it at the end.
#
# scripts/test.sh --sanitize [CTEST ARGS]: the same suite built with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-sanitize; any report of either, from a test or from a
# program a test starts, fails the run.
SANITIZE=0
if [ "${1:-}" = --sanitize ]; then
    SANITIZE=1
    shift
    export ORVELA_BUILD_DIR=${ORVELA_BUILD_DIR:-$(cd "$(dirname "$0")/.." && pwd)/build-sanitize}
fi
source "$(dirname "$0")/common.sh"
# A real browser for the example page's test.
PACKAGES+=(chromium)

install_packages
if [ $SANITIZE = 1 ]; then
    configure -DORVELA_BUILD_TESTS=ON -DORVELA_SANITIZE=ON
else
    configure -DORVELA_BUILD_TESTS=ON
fi
build
cd "$BUILD_DIR"
# A whole run also checks that every result code the program answers was reached by a test.
[ $# -eq 0 ] && export ORVELA_FULL_RUN=1
[ $SANITIZE = 1 ] || exec ctest --output-on-failure --parallel "$(nproc)" "$@"

# Every report goes to a file of its own, whichever process wrote it (a test, the program as a
# CGI process or under lighttpd, the data set loader), so that none is lost in an output that
# nobody reads.
REPORTS=$BUILD_DIR/sanitizer-reports
rm -rf "$REPORTS" && mkdir -p "$REPORTS"
SUPPRESSIONS=$ROOT/tests/sanitizers
export ASAN_OPTIONS="log_path=$REPORTS/asan:detect_stack_use_after_return=1:strict_string_checks=1"
export UBSAN_OPTIONS="log_path=$REPORTS/ubsan:print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$SUPPRESSIONS/lsan.supp:print_suppressions=0"
status=0
ctest --output-on-failure --parallel "$(nproc)" "$@" || status=$?
if [ -n "$(ls -A "$REPORTS")" ]; then
    echo "Sanitizer reports in $REPORTS:"
    head -n 60 "$REPORTS"/*
    exit 1
fi
exit $status
