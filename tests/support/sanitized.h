#pragma once

// Under AddressSanitizer memory figures mean nothing: its allocator keeps freed memory in
// quarantine and adds shadow memory of its own. The sanitized run (scripts/test.sh --sanitize)
// leaves them to the normal one.
#ifdef ORVELA_SANITIZED
constexpr bool kMemoryMeasured = false;
#else
constexpr bool kMemoryMeasured = true;
#endif
#define SKIP_UNLESS_MEMORY_MEASURED()                                                  \
    if (!kMemoryMeasured) {                                                            \
        GTEST_SKIP() << "memory is measured by the build without sanitizers";          \
    }
