#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite. The tests start
# their own PostgreSQL cluster under the build folder and stop it at the end.
source "$(dirname "$0")/common.sh"
# A real browser for the example page's test.
PACKAGES+=(chromium)

install_packages
configure -DORVELA_BUILD_TESTS=ON
build
cd "$BUILD_DIR"
# A whole run also checks that every result code the program answers was reached by a test.
[ $# -eq 0 ] && export ORVELA_FULL_RUN=1
ctest --output-on-failure --parallel "$(nproc)" "$@"
