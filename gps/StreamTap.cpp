#include "StreamTap.h"

#include <algorithm>

void CStreamTap::Add(TapKind kind, const void *data, std::size_t n,
                     std::chrono::system_clock::time_point at) {
    std::lock_guard lock(m_lock);
    if (m_capacity == 0)
        return;
    const std::size_t slot = static_cast<std::size_t>(m_added % m_capacity);
    if (m_ring.size() <= slot)
        m_ring.emplace_back();
    TapLine &line = m_ring[slot];
    line.seq = ++m_added;
    line.kind = kind;
    line.at = at;
    // Reuses the slot's storage once the ring has gone round.
    line.bytes.assign(static_cast<const char *>(data), n);
}

std::vector<TapLine> CStreamTap::Since(std::uint64_t &seen) const {
    std::lock_guard lock(m_lock);
    std::vector<TapLine> out;
    const std::uint64_t first = std::max<std::uint64_t>(
        seen + 1, m_added - std::min<std::uint64_t>(m_added, m_ring.size()) + 1);
    if (first <= m_added) {
        out.reserve(static_cast<std::size_t>(m_added - first + 1));
        for (std::uint64_t s = first; s <= m_added; ++s)
            out.push_back(m_ring[static_cast<std::size_t>((s - 1) % m_capacity)]);
    }
    seen = m_added;
    return out;
}

std::size_t CStreamTap::Size() const {
    std::lock_guard lock(m_lock);
    return m_ring.size();
}

std::uint64_t CStreamTap::Added() const {
    std::lock_guard lock(m_lock);
    return m_added;
}
