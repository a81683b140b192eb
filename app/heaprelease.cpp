#include "app/heaprelease.h"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdlib>

namespace orvela {

HeapRelease::HeapRelease() : m_statm(::open("/proc/self/statm", O_RDONLY | O_CLOEXEC))
{
    m_settled = residentBytes();
}

HeapRelease::~HeapRelease()
{
    if (m_statm >= 0) {
        ::close(m_statm);
    }
}

qint64 HeapRelease::residentBytes() const
{
    char text[128];
    const ssize_t length = m_statm < 0 ? -1 : ::pread(m_statm, text, sizeof text - 1, 0);
    if (length <= 0) {
        return 0;
    }
    text[length] = '\0';
    // "size resident shared ...", in pages.
    char* end = nullptr;
    std::strtoll(text, &end, 10);
    return std::strtoll(end, nullptr, 10) * ::sysconf(_SC_PAGESIZE);
}

void HeapRelease::afterRequest()
{
    const qint64 resident = residentBytes();
    if (resident > m_settled + kMarginBytes) {
        ::malloc_trim(0);
        m_settled = residentBytes();
    } else if (resident < m_settled) {
        m_settled = resident;
    }
}

} // namespace orvela
