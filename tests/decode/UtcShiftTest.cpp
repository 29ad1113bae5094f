#include "model/UtcShift.h"

#include <gtest/gtest.h>

namespace {

struct ShiftCase {
    const char *name;
    UtcDateTime utc;
    int bias; // seconds west of UTC
    UtcDateTime local;
};

class ShiftToLocalCases : public ::testing::TestWithParam<ShiftCase> {};

TEST_P(ShiftToLocalCases, GivesLocalStandardTime) {
    const ShiftCase &c = GetParam();
    const UtcDateTime got = ShiftToLocal(c.utc, c.bias);
    EXPECT_EQ(got.year, c.local.year);
    EXPECT_EQ(got.month, c.local.month);
    EXPECT_EQ(got.day, c.local.day);
    EXPECT_EQ(got.hour, c.local.hour);
    EXPECT_EQ(got.minute, c.local.minute);
    EXPECT_EQ(got.second, c.local.second);
}

constexpr int kHour = 3600;

INSTANTIATE_TEST_SUITE_P(
    Calendar, ShiftToLocalCases,
    ::testing::Values(
        ShiftCase{"Utc", {2094, 3, 23, 12, 35, 19}, 0, {2094, 3, 23, 12, 35, 19}},
        ShiftCase{
            "EastPastMidnight", {2094, 3, 23, 20, 35, 19}, -8 * kHour, {2094, 3, 24, 4, 35, 19}},
        ShiftCase{"WestBeforeMidnight", {2024, 3, 1, 2, 0, 0}, 5 * kHour, {2024, 2, 29, 21, 0, 0}},
        ShiftCase{"IntoLeapDay", {2024, 2, 28, 23, 30, 0}, -1 * kHour, {2024, 2, 29, 0, 30, 0}},
        ShiftCase{
            "CommonYearSkipsFeb29", {2023, 2, 28, 23, 30, 0}, -1 * kHour, {2023, 3, 1, 0, 30, 0}},
        ShiftCase{"Year2100IsNotLeap", {2100, 2, 28, 23, 0, 0}, -2 * kHour, {2100, 3, 1, 1, 0, 0}},
        ShiftCase{"Year2000IsLeap", {2000, 2, 28, 23, 0, 0}, -2 * kHour, {2000, 2, 29, 1, 0, 0}},
        ShiftCase{"EastIntoNewYear", {2099, 12, 31, 22, 10, 5}, -3 * kHour, {2100, 1, 1, 1, 10, 5}},
        ShiftCase{"WestIntoOldYear", {2000, 1, 1, 3, 0, 59}, 10 * kHour, {1999, 12, 31, 17, 0, 59}},
        ShiftCase{"EndOfApril", {2015, 4, 30, 20, 0, 0}, -12 * kHour, {2015, 5, 1, 8, 0, 0}},
        ShiftCase{"HalfHourEastMovesMinute",
                  {2094, 3, 23, 10, 45, 0},
                  -330 * 60,
                  {2094, 3, 23, 16, 15, 0}},
        ShiftCase{"HalfHourWest", {2019, 6, 1, 0, 10, 0}, 210 * 60, {2019, 5, 31, 20, 40, 0}},
        ShiftCase{"QuarterHourEast",
                  {2019, 12, 31, 23, 0, 0},
                  -(5 * kHour + 45 * 60),
                  {2020, 1, 1, 4, 45, 0}},
        ShiftCase{"LeapSecondStaysInItsMinute",
                  {2016, 12, 31, 23, 59, 60},
                  0,
                  {2016, 12, 31, 23, 59, 60}},
        ShiftCase{
            "LeapSecondShifted", {2016, 12, 31, 23, 59, 60}, -1 * kHour, {2017, 1, 1, 0, 59, 60}},
        // Not on the calendar: the date stays as received, the time of day wraps.
        ShiftCase{"EmptyDateWest", {2000, 0, 0, 1, 2, 3}, 3 * kHour, {2000, 0, 0, 22, 2, 3}},
        ShiftCase{"EmptyDateEast", {2000, 0, 0, 23, 2, 3}, -330 * 60, {2000, 0, 0, 4, 32, 3}},
        ShiftCase{
            "Feb29InCommonYear", {2023, 2, 29, 12, 0, 0}, -13 * kHour, {2023, 2, 29, 1, 0, 0}},
        ShiftCase{"Month13", {2020, 13, 1, 12, 0, 0}, 0, {2020, 13, 1, 12, 0, 0}}),
    [](const auto &param) { return std::string(param.param.name); });

} // namespace
