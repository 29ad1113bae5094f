#include "DecodeTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

using decodetest::Sentence;

namespace {

struct Rmc {
    std::string sentence;
    std::int32_t lat, lon;
    std::uint16_t speed;
    std::int16_t course;
    std::uint8_t hms, day; // hour, minute and second are all hms
};

// While the reader decodes, the dialog copies: every copy must hold one sentence's fields
// together, never the latitude of one and the longitude or time of another.
TEST(CopyConsistency, CopiesNeverMixTwoSentences) {
    const Rmc a{Sentence("GPRMC,010101,A,1000.000,N,02000.000,E,1.0,11,010120,,"),
                10000000,
                20000000,
                185,
                11,
                1,
                1};
    const Rmc b{Sentence("GPRMC,020202,V,3330.000,S,15112.600,W,85.0,222,020220,,"),
                -33500000,
                -151210000,
                15742,
                222,
                2,
                2};
    const std::string ab = a.sentence + b.sentence;
    CNmeaDecoder port(0);
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop.load(std::memory_order_relaxed))
            decodetest::Feed(port, ab);
    });
    int seenA = 0, seenB = 0, mixed = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < until) {
        GpsFix fix;
        port.CopyFix(fix);
        if (fix.bHour == 0)
            continue; // nothing decoded yet
        const Rmc &want = fix.bHour == 1 ? a : b;
        const bool same = fix.lLatitude == want.lat && fix.lLongitude == want.lon &&
                          fix.wSpeed == want.speed && fix.nCourse == want.course &&
                          fix.bDay == want.day && fix.bMinute == want.hms &&
                          fix.bSecond == want.hms && fix.bValid == (fix.bHour == 1 ? 1 : 0);
        if (!same)
            ++mixed;
        (fix.bHour == 1 ? seenA : seenB)++;
    }
    stop = true;
    reader.join();
    EXPECT_EQ(mixed, 0);
    EXPECT_GT(seenA + seenB, 0);
}

} // namespace
