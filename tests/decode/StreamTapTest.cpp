#include "StreamTap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

// Lines of lengths drawn from [shortest, longest] through a small tap, read back now and then as
// the console reads: every line read is the one added under its number, whole (or cut to the
// block when longer), the numbers run on without a gap to the newest, and the tap holds as many
// as its capacity and its block allow.
TEST(StreamTap, KeepsTheNewestLinesWholeAcrossTheBlocksEnd) {
    const struct {
        const char *name;
        std::size_t capacity, bytes, shortest, longest;
        std::size_t fewestHeld; // once full
    } rows[] = {
        // Sentences: the capacity in lines binds, never the block.
        {"sentences", 50, 8192, 20, 82, 50},
        // Frames: the block binds; at worst a frame's length is left unused at its end.
        {"frames", 50, 8192, 100, 1000, (8192 - 1000) / 1000},
        // Each line alone fills most of the block: one held at a time.
        {"long", 50, 1000, 600, 900, 1},
        // Longer than the block: cut to it.
        {"longer", 50, 1000, 1200, 1500, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        CStreamTap tap(row.capacity, row.bytes);
        std::mt19937 draw(7);
        std::uniform_int_distribution<std::size_t> length(row.shortest, row.longest);
        std::map<std::uint64_t, std::string> added;
        std::uint64_t seen = 0;
        for (int i = 0; i < 2000; ++i) {
            std::string line(length(draw), static_cast<char>('A' + i % 26));
            line.front() = static_cast<char>('0' + i % 10);
            tap.Add(i % 3 == 0 ? TapKind::Ubx : TapKind::Sentence, line.data(), line.size());
            added[tap.Added()] = line.substr(0, row.bytes);
            ASSERT_LE(tap.Size(), row.capacity);
            if (i > 200) {
                ASSERT_GE(tap.Size(), row.fewestHeld) << "after line " << i;
            }
            if (i % 37 != 0)
                continue;
            std::uint64_t all = 0;
            const std::vector<TapLine> held = tap.Since(all);
            ASSERT_EQ(held.size(), tap.Size());
            EXPECT_EQ(all, tap.Added());
            std::size_t bytes = 0;
            for (std::size_t k = 0; k < held.size(); ++k) {
                EXPECT_EQ(held[k].seq, tap.Added() - held.size() + 1 + k);
                EXPECT_EQ(held[k].bytes, added[held[k].seq]) << "line " << held[k].seq;
                EXPECT_EQ(held[k].kind,
                          (held[k].seq - 1) % 3 == 0 ? TapKind::Ubx : TapKind::Sentence);
                bytes += held[k].bytes.size();
            }
            EXPECT_LE(bytes, row.bytes);
            // The console's own reads: only what came since its last.
            const std::uint64_t before = seen;
            const std::vector<TapLine> fresh = tap.Since(seen);
            EXPECT_EQ(seen, tap.Added());
            if (!fresh.empty()) {
                EXPECT_EQ(fresh.front().seq,
                          std::max<std::uint64_t>(before + 1, tap.Added() - tap.Size() + 1));
            }
        }
    }
}

} // namespace
