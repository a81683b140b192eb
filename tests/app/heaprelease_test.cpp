// A persistent process gives memory back after a request that took much of it in small
// pieces, which the C library would otherwise keep for the life of the process.
#include "app/heaprelease.h"
#include "support/sanitized.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

TEST(HeapRelease, GivesBackWhatALargeRequestFreedInSmallPieces)
{
    SKIP_UNLESS_MEMORY_MEASURED();
    orvela::HeapRelease heap;
    const qint64 before = residentKb();
    // 160 MB in pieces of 1 KB, each written so that it is resident, with one piece kept at the
    // top of the heap: the C library cannot shrink the heap past it on its own.
    std::vector<char*> pieces;
    for (int i = 0; i < 160 * 1024; ++i) {
        pieces.push_back(static_cast<char*>(std::malloc(1024)));
        pieces.back()[0] = 1;
        pieces.back()[512] = 1;
    }
    char* top = pieces.back();
    pieces.pop_back();
    for (char* piece : pieces) {
        std::free(piece);
    }
    const qint64 held = residentKb();
    heap.afterRequest();
    const qint64 after = residentKb();
    std::free(top);
    EXPECT_GT(held - before, 100 * 1024) << "the pieces were resident";
    EXPECT_LT(after - before, 32 * 1024) << "KB still held after the request";
}

} // namespace
