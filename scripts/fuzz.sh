#!/usr/bin/env bash
# scripts/fuzz.sh TARGET [SECONDS]: runs one fuzz target of tests/fuzz (pairs, multipart,
# clientjson, archive, intrule, dates, token) for SECONDS (default 60), built with clang,
# libFuzzer and both sanitizers in build-fuzz. It starts from the seeds in
# tests/fuzz/corpus/TARGET and keeps what it learns in build-fuzz/corpus/TARGET. An input that
# fails is written to tests/fuzz/regressions/TARGET, which the normal suite replays: fix the
# fault, then commit the input with the fix.
export ORVELA_BUILD_DIR=${ORVELA_BUILD_DIR:-$(cd "$(dirname "$0")/.." && pwd)/build-fuzz}
source "$(dirname "$0")/common.sh"
PACKAGES+=(clang libclang-rt-14-dev)

TARGET=${1:?usage: scripts/fuzz.sh TARGET [SECONDS]}
DURATION=${2:-60}
[ -f "$ROOT/tests/fuzz/${TARGET}_fuzz.cpp" ] || { echo "no fuzz target $TARGET" >&2; exit 2; }

install_packages
configure -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DORVELA_BUILD_TESTS=OFF -DORVELA_FUZZ=ON
build --target "fuzz_$TARGET"

WORK=$BUILD_DIR/corpus/$TARGET
REGRESSIONS=$ROOT/tests/fuzz/regressions/$TARGET
mkdir -p "$WORK" "$REGRESSIONS"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_stack_use_after_return=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$ROOT/tests/sanitizers/lsan.supp:print_suppressions=0}
# At low priority: the machine's cores are shared.
exec nice -n 10 "$BUILD_DIR/tests/fuzz/fuzz_$TARGET" -max_total_time="$DURATION" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$REGRESSIONS/" "$WORK" "$ROOT/tests/fuzz/corpus/$TARGET"
