#pragma once

#include <QtGlobal>

namespace orvela {

// Gives memory back to the system after a request that took much of it. The C library keeps
// what a process freed for its next allocations, so a persistent process that served one
// large report would otherwise hold that report's memory for as long as it lives. The
// resident size is looked at after every request (one read of /proc, a few microseconds);
// the heap is trimmed only when it grew well beyond what the process held after the last trim.
class HeapRelease {
public:
    HeapRelease();
    ~HeapRelease();
    HeapRelease(const HeapRelease&) = delete;
    HeapRelease& operator=(const HeapRelease&) = delete;

    // After a request: trims the heap when the resident size grew by more than the margin.
    void afterRequest();

    static constexpr qint64 kMarginBytes = 32 * 1024 * 1024;

private:
    qint64 residentBytes() const;

    int m_statm = -1;
    qint64 m_settled = 0;
};

} // namespace orvela
