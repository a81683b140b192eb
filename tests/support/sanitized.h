#pragma once

#include <csignal>

// Under AddressSanitizer memory figures mean nothing: its allocator keeps freed memory in
// quarantine and adds shadow memory of its own. The sanitized run (scripts/test.sh --sanitize)
// leaves them to the normal one.
// A crash the tests cause from outside: under AddressSanitizer a SIGSEGV would be reported as a
// fault of the program, which the sanitized run counts.
#ifdef ORVELA_SANITIZED
constexpr bool kMemoryMeasured = false;
constexpr int kCrashSignal = SIGKILL;
#else
constexpr bool kMemoryMeasured = true;
constexpr int kCrashSignal = SIGSEGV;
#endif
#define SKIP_UNLESS_MEMORY_MEASURED()                                                  \
    if (!kMemoryMeasured) {                                                            \
        GTEST_SKIP() << "memory is measured by the build without sanitizers";          \
    }
