#include "TimeRule.h"
#include "TimeZone.h"

#include <QByteArray>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

namespace {

// Central European time for the test's length: UTC+1, summer time UTC+2 from the last Sunday of
// March 01:00 UTC to the last Sunday of October 01:00 UTC.
class TimeRuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_old = qgetenv("TZ");
        m_hadTz = qEnvironmentVariableIsSet("TZ");
        qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
        tzset();
    }
    void TearDown() override {
        if (m_hadTz)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray m_old;
    bool m_hadTz = false;
};

struct Row {
    const char *what;
    display::TimeRule rule;
    int year, month, day, hour, minute, second;       // the record: local standard time
    int sYear, sMonth, sDay, sHour, sMinute, sSecond; // shown
    const char *zone = nullptr;                       // named beside the time
};

} // namespace

TEST_F(TimeRuleTest, ShiftsByTheRulesOffsetAcrossDaysMonthsAndYears) {
    using display::TimeRule;
    const Row rows[] = {
        {"standard as recorded", TimeRule::Standard, 2026, 7, 1, 12, 0, 0, 2026, 7, 1, 12, 0, 0,
         "CET"},
        {"summer: one hour on", TimeRule::Local, 2026, 7, 1, 12, 0, 0, 2026, 7, 1, 13, 0, 0,
         "CEST"},
        {"winter: as standard", TimeRule::Local, 2026, 12, 8, 12, 0, 0, 2026, 12, 8, 12, 0, 0,
         "CET"},
        {"summer into the next month", TimeRule::Local, 2026, 8, 31, 23, 30, 5, 2026, 9, 1, 0, 30,
         5},
        {"just before the switch", TimeRule::Local, 2026, 3, 29, 1, 59, 59, 2026, 3, 29, 1, 59, 59},
        {"at the switch", TimeRule::Local, 2026, 3, 29, 2, 0, 0, 2026, 3, 29, 3, 0, 0},
        {"utc back over the year", TimeRule::Utc, 2026, 1, 1, 0, 30, 0, 2025, 12, 31, 23, 30, 0,
         "UTC"},
        {"utc back over a leap day", TimeRule::Utc, 2028, 3, 1, 0, 0, 7, 2028, 2, 29, 23, 0, 7},
        {"off the calendar: time of day", TimeRule::Utc, 0, 0, 0, 0, 30, 0, 0, 0, 0, 23, 30, 0},
        {"empty record stays empty", TimeRule::Utc, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    };
    const int bias = platform::StandardBiasSeconds();
    ASSERT_EQ(bias, -3600);
    for (const Row &r : rows) {
        GpsFix f{};
        f.nYear = static_cast<std::int16_t>(r.year), f.bMonth = static_cast<std::uint8_t>(r.month);
        f.bDay = static_cast<std::uint8_t>(r.day), f.bHour = static_cast<std::uint8_t>(r.hour);
        f.bMinute = static_cast<std::uint8_t>(r.minute);
        f.bSecond = static_cast<std::uint8_t>(r.second);
        f.lLatitude = 123;
        const int shownOffset = display::ApplyTimeRule(f, r.rule, bias);
        if (r.zone != nullptr) {
            EXPECT_EQ(display::TimeZoneName(r.rule, shownOffset), QString::fromLatin1(r.zone))
                << r.what;
        }
        EXPECT_EQ(f.nYear, r.sYear) << r.what;
        EXPECT_EQ(f.bMonth, r.sMonth) << r.what;
        EXPECT_EQ(f.bDay, r.sDay) << r.what;
        EXPECT_EQ(f.bHour, r.sHour) << r.what;
        EXPECT_EQ(f.bMinute, r.sMinute) << r.what;
        EXPECT_EQ(f.bSecond, r.sSecond) << r.what;
        EXPECT_EQ(f.lLatitude, 123) << r.what;
    }
    EXPECT_EQ(display::TimeRuleText(TimeRule::Standard, bias),
              QStringLiteral("Local standard time, UTC+01:00 (summer time not applied)"));
    EXPECT_TRUE(display::TimeRuleText(TimeRule::Local, bias).startsWith("Local time, UTC+0"));
    EXPECT_TRUE(display::TimeRuleText(TimeRule::Utc, bias).startsWith("UTC"));
    EXPECT_EQ(display::TimeRuleText(TimeRule::Standard, 12600),
              QStringLiteral("Local standard time, UTC-03:30 (summer time not applied)"));
    // A zone without a word for its offset is named by the offset.
    qputenv("TZ", "<+0545>-5:45");
    tzset();
    EXPECT_EQ(display::TimeZoneName(TimeRule::Local, 20700), QStringLiteral("UTC+05:45"));
    EXPECT_EQ(display::TimeZoneName(TimeRule::Utc, 20700), QStringLiteral("UTC"));
}
