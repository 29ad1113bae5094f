#include "StreamTap.h"

#include <algorithm>
#include <cstring>

void CStreamTap::DropOldest() {
    --m_held;
    if (++m_oldest == m_capacity)
        m_oldest = 0;
}

std::size_t CStreamTap::Slot(std::size_t fromOldest) const {
    // No division on the reader's path: the sum is under twice the capacity.
    const std::size_t slot = m_oldest + fromOldest;
    return slot >= m_capacity ? slot - m_capacity : slot;
}

void CStreamTap::Add(TapKind kind, const void *data, std::size_t n,
                     std::chrono::system_clock::time_point at) {
    std::lock_guard lock(m_lock);
    if (m_capacity == 0 || m_byteCapacity == 0)
        return;
    if (!m_bytes) {
        m_bytes = std::make_unique_for_overwrite<char[]>(m_byteCapacity);
        m_ring.resize(m_capacity);
    }
    n = std::min(n, m_byteCapacity);
    // A line that does not fit before the block's end starts again at its beginning; the lines
    // whose bytes it covers, and those in the end it leaves, go.
    std::size_t start = m_head;
    if (m_byteCapacity - start < n)
        start = 0;
    while (m_held > 0) {
        const Entry &oldest = m_ring[m_oldest];
        const bool covered = oldest.offset < start + n && start < oldest.offset + oldest.len;
        const bool skipped = start == 0 && m_head != 0 && oldest.offset >= m_head;
        if (!covered && !skipped && m_held < m_capacity)
            break;
        DropOldest();
    }
    Entry &line = m_ring[Slot(m_held)];
    ++m_added;
    ++m_held;
    line.at = at;
    line.kind = kind;
    line.offset = start;
    line.len = static_cast<std::uint32_t>(n);
    if (n > 0)
        std::memcpy(m_bytes.get() + start, data, n);
    m_head = start + n;
}

std::vector<TapLine> CStreamTap::Since(std::uint64_t &seen) const {
    std::lock_guard lock(m_lock);
    std::vector<TapLine> out;
    const std::uint64_t first = std::max<std::uint64_t>(seen + 1, m_added - m_held + 1);
    if (first <= m_added) {
        out.resize(static_cast<std::size_t>(m_added - first + 1));
        for (std::uint64_t s = first; s <= m_added; ++s) {
            const Entry &e = m_ring[Slot(static_cast<std::size_t>(s - (m_added - m_held + 1)))];
            TapLine &line = out[static_cast<std::size_t>(s - first)];
            line.seq = s;
            line.kind = e.kind;
            line.at = e.at;
            line.bytes.assign(m_bytes.get() + e.offset, e.len);
        }
    }
    seen = m_added;
    return out;
}

std::size_t CStreamTap::Size() const {
    std::lock_guard lock(m_lock);
    return m_held;
}

std::uint64_t CStreamTap::Added() const {
    std::lock_guard lock(m_lock);
    return m_added;
}
