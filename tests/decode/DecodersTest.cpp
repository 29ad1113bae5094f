#include "DecodeTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using decodetest::Decode;
using decodetest::Sentence;

namespace {

template <typename T> T At(const GpsFix &fix, std::size_t offset) {
    T value;
    std::memcpy(&value, reinterpret_cast<const unsigned char *>(&fix) + offset, sizeof value);
    return value;
}

// Byte offsets as the display's block copies and comparisons rely on, read through a decoded
// record.
TEST(FixRecordLayout, DecodedFieldsSitAtTheirByteOffsets) {
    const GpsFix fix =
        Decode(Sentence("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W") +
               Sentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") +
               Sentence("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1") +
               Sentence("GPGSV,1,1,01,07,40,283,46"));
    EXPECT_EQ(At<std::uint8_t>(fix, 0), 1);
    EXPECT_EQ(At<std::uint8_t>(fix, 2), 23);
    EXPECT_EQ(At<std::uint8_t>(fix, 3), 3);
    EXPECT_EQ(At<std::int16_t>(fix, 4), 2094);
    EXPECT_EQ(At<std::uint8_t>(fix, 6), 12);
    EXPECT_EQ(At<std::uint8_t>(fix, 7), 35);
    EXPECT_EQ(At<std::uint8_t>(fix, 8), 19);
    EXPECT_EQ(At<std::int32_t>(fix, 12), 48117300);
    EXPECT_EQ(At<std::int32_t>(fix, 16), 11516666);
    EXPECT_EQ(At<std::uint16_t>(fix, 20), 4148);
    EXPECT_EQ(At<std::int16_t>(fix, 22), 84);
    EXPECT_EQ(At<std::int8_t>(fix, 24), 8);
    EXPECT_EQ(At<std::uint16_t>(fix, 26), 545);
    EXPECT_EQ(At<std::int8_t>(fix, 28), 3);
    const std::int8_t used[12] = {4, 5, 0, 9, 12, 0, 0, 24, 0, 0, 0, 0};
    for (std::size_t j = 0; j < 12; ++j)
        EXPECT_EQ(At<std::int8_t>(fix, 29 + j), used[j]) << "channel " << j;
    EXPECT_EQ(At<std::int16_t>(fix, 42), 25);
    EXPECT_EQ(At<std::int16_t>(fix, 44), 13);
    EXPECT_EQ(At<std::int16_t>(fix, 46), 21);
    EXPECT_EQ(At<std::uint8_t>(fix, 48), 7);
    EXPECT_EQ(At<std::uint8_t>(fix, 49), 40);
    EXPECT_EQ(At<std::uint8_t>(fix, 50), 46);
    EXPECT_EQ(At<std::int16_t>(fix, 52), 283);
    for (std::size_t reserved : {1u, 9u, 10u, 11u, 25u, 41u, 51u})
        EXPECT_EQ(At<std::uint8_t>(fix, reserved), 0) << "reserved byte " << reserved;
}

TEST(FixRecordLayout, FreshPortHoldsZeroRecord) {
    CNmeaDecoder port(0);
    GpsFix fix;
    std::memset(&fix, 0xAB, sizeof fix);
    port.CopyFix(fix);
    const GpsFix zero{};
    EXPECT_TRUE(decodetest::SameRecord(fix, zero));
}

struct RmcCase {
    const char *body;
    int bias;
    int hour, minute, second, day, month, year;
    std::int32_t lat, lon;
    std::uint16_t speed;
    std::int16_t course;
    std::uint8_t valid;
};

class RmcDecode : public ::testing::TestWithParam<RmcCase> {};

TEST_P(RmcDecode, StoresConvertedFields) {
    const RmcCase &c = GetParam();
    const GpsFix fix = Decode(Sentence(c.body), c.bias);
    EXPECT_EQ(fix.bHour, c.hour);
    EXPECT_EQ(fix.bMinute, c.minute);
    EXPECT_EQ(fix.bSecond, c.second);
    EXPECT_EQ(fix.bDay, c.day);
    EXPECT_EQ(fix.bMonth, c.month);
    EXPECT_EQ(fix.nYear, c.year);
    EXPECT_EQ(fix.lLatitude, c.lat);
    EXPECT_EQ(fix.lLongitude, c.lon);
    EXPECT_EQ(fix.wSpeed, c.speed);
    EXPECT_EQ(fix.nCourse, c.course);
    EXPECT_EQ(fix.bValid, c.valid);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedValues, RmcDecode,
    ::testing::Values(
        RmcCase{"GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", 0, 12, 35, 19,
                23, 3, 2094, 48117300, 11516666, 4148, 84, 1},
        // 8 hours east of UTC.
        RmcCase{"GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", -480 * 60, 20,
                35, 19, 23, 3, 2094, 48117300, 11516666, 4148, 84, 1},
        RmcCase{"GPRMC,203519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", -480 * 60, 4,
                35, 19, 24, 3, 2094, 48117300, 11516666, 4148, 84, 1},
        // Half-hour zone: the minute moves too.
        RmcCase{"GPRMC,104500,A,4807.038,N,01131.000,E,022.4,084.4,230394,,", -330 * 60, 16, 15, 0,
                23, 3, 2094, 48117300, 11516666, 4148, 84, 1},
        // 85.0 kn is 15742, because the knots factor is 185.20000000000002.
        RmcCase{"GPRMC,000000,A,3330.000,S,15112.600,E,85.0,359.9,010100,,", 0, 0, 0, 0, 1, 1, 2000,
                -33500000, 151210000, 15742, 359, 1},
        RmcCase{"GNRMC,000000,V,4916.45,N,12311.12,W,1.0,-3.9,311299,,", 0, 0, 0, 0, 31, 12, 2099,
                49274166, -123185333, 185, -3, 0},
        // No fix: empty position, speed, course and date; time shifts modulo 24 h.
        RmcCase{"GPRMC,010203,V,,,,,,,,,", 3 * 3600, 22, 2, 3, 0, 0, 2000, 0, 0, 0, 0, 0},
        // A short latitude gives 0 for the missing pieces; status "a" is not "A".
        RmcCase{"GPRMC,1,a,4,N,0,E,700,70000,0101,,", 0, 1, 0, 0, 1, 1, 2000, 4000000, 0,
                static_cast<std::uint16_t>(129640), static_cast<std::int16_t>(70000), 0}));

struct GgaCase {
    const char *body;
    std::int8_t sats;
    std::uint16_t altitude;
    // Fields 13 and 14: the corrections' age and station; -1 when empty or unreadable.
    float diffAgeS = -1.0f;
    std::int16_t diffStation = -1;
};

class GgaDecode : public ::testing::TestWithParam<GgaCase> {};

TEST_P(GgaDecode, StoresSatsAltitudeAndCorrections) {
    const GgaCase &c = GetParam();
    // A corrected fix first: every GGA states its corrections afresh.
    const std::string before =
        Sentence("GNGGA,1,4807.038,N,01131.000,E,4,12,0.6,545.4,M,46.9,M,2.0,0007");
    CNmeaDecoder port(0);
    decodetest::Feed(port, before + Sentence(c.body));
    GpsFix fix{};
    FixExtra extra;
    port.CopyFix(fix, extra);
    EXPECT_EQ(fix.cSatsUsed, c.sats);
    EXPECT_EQ(fix.wAltitude, c.altitude);
    EXPECT_FLOAT_EQ(extra.diffAgeS, c.diffAgeS);
    EXPECT_EQ(extra.diffStation, c.diffStation);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedValues, GgaDecode,
    ::testing::Values(
        GgaCase{"GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", 8, 545},
        GgaCase{"GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,-12.6,M,46.9,M,,", 8, 65524},
        GgaCase{"GNGGA,,,,,,0,,,,M,,M,,", 0, 0},
        GgaCase{"GPGGA,1,2,N,3,E,1,300,0.9,70000.9,M,,M,,", 44, 4464},
        // ublox-zed-f9r.log: RTK float on station 41.
        GgaCase{"GNGGA,231408.00,4503.94632,N,00739.54368,E,5,12,0.82,257.4,M,47.2,M,0.0,0041", 12,
                257, 0.0f, 41},
        GgaCase{"GNGGA,1,2,N,3,E,4,10,0.9,12.0,M,,M,1.0,0123", 10, 12, 1.0f, 123},
        // RTCM 3 stations reach 4095, beyond NMEA's 1023; an age without a station.
        GgaCase{"GNGGA,1,2,N,3,E,2,10,0.9,12.0,M,,M,12.5,4095", 10, 12, 12.5f, 4095},
        GgaCase{"GNGGA,1,2,N,3,E,2,10,0.9,12.0,M,,M,7,", 10, 12, 7.0f, -1},
        // SiRF's 0000 on an uncorrected fix names no station.
        GgaCase{"GPGGA,1,2,N,3,E,1,10,0.9,12.0,M,,M,,0000", 10, 12},
        // Garbage in either field reads as not sent; the other field stands.
        GgaCase{"GNGGA,1,2,N,3,E,4,10,0.9,12.0,M,,M,x1.0,0123", 10, 12},
        GgaCase{"GNGGA,1,2,N,3,E,4,10,0.9,12.0,M,,M,1.0.0,0123", 10, 12},
        GgaCase{"GNGGA,1,2,N,3,E,4,10,0.9,12.0,M,,M,-1.0,0123", 10, 12},
        GgaCase{"GNGGA,1,2,N,3,E,4,10,0.9,12.0,M,,M,123456789.0,0123", 10, 12},
        GgaCase{"GNGGA,1,2,N,3,E,4,10,0.9,12.0,M,,M,1.0,12a4", 10, 12, 1.0f, -1},
        GgaCase{"GNGGA,1,2,N,3,E,4,10,0.9,12.0,M,,M,1.0,4096", 10, 12, 1.0f, -1},
        GgaCase{"GNGGA,1,2,N,3,E,4,10,0.9,12.0,M,,M,1.0,-001", 10, 12, 1.0f, -1},
        GgaCase{"GNGGA,1,2,N,3,E,4,10,0.9,12.0,M,,M,1.0,00123", 10, 12, 1.0f, -1}));

// NAV-PVT of ublox-zed-f9r.log (RTK float), its flags and flags3 rewritten per row.
std::string NavPvt(unsigned flags, unsigned correctionAgeCode) {
    std::string p = decodetest::FromHex(
        "5070BC1EE907040B170E08371500000044CD02000343EA1915AE9004B87DDC1AFFA504007CED03005C000000"
        "58000000F9FFFFFF0000000021000000070000006EFB2101C400000080A812018E000000042D4B346EFB2101"
        "00000000");
    p[21] = static_cast<char>(flags);
    p[78] = static_cast<char>(correctionAgeCode << 1);
    return decodetest::UbxFrame(0x01, 0x07, p);
}

// RXM-RTCM version 2: flags (crcFailed, msgUsed), subType, refStation, msgType.
std::string RxmRtcm(unsigned flags, unsigned station, unsigned msgType) {
    const std::string p = {2,
                           static_cast<char>(flags),
                           0,
                           0,
                           static_cast<char>(station & 0xFF),
                           static_cast<char>(station >> 8),
                           static_cast<char>(msgType & 0xFF),
                           static_cast<char>(msgType >> 8)};
    return decodetest::UbxFrame(0x02, 0x32, p);
}

// A receiver of UBX alone: the age from NAV-PVT's flags3 (the upper end of its range), the
// station from RXM-RTCM of a frame it took that names one. Where GGA comes, its fields speak.
struct CorrectionsCase {
    const char *name;
    std::string stream;
    float diffAgeS;
    std::int16_t diffStation;
};

class UbxCorrections : public ::testing::TestWithParam<CorrectionsCase> {};

TEST_P(UbxCorrections, GiveTheAgeAndStation) {
    const FixExtra extra = decodetest::DecodeExtra(GetParam().stream);
    EXPECT_FLOAT_EQ(extra.diffAgeS, GetParam().diffAgeS);
    EXPECT_EQ(extra.diffStation, GetParam().diffStation);
}

const unsigned kFloat = 0x43, kAutonomous = 0x01, kUsed = 2u << 1, kCrcFailed = 1,
               kNotUsed = 1u << 1;
INSTANTIATE_TEST_SUITE_P(
    Streams, UbxCorrections,
    ::testing::Values(
        CorrectionsCase{"NoAgeFromOldFirmware", NavPvt(kFloat, 0), -1.0f, -1},
        CorrectionsCase{"UnderOneSecond", NavPvt(kFloat, 1), 1.0f, -1},
        CorrectionsCase{"TwoToFive", NavPvt(kFloat, 3), 5.0f, -1},
        CorrectionsCase{"FifteenToTwenty", NavPvt(kFloat, 6), 20.0f, -1},
        CorrectionsCase{"TwoMinutesAndMore", NavPvt(kFloat, 12), 120.0f, -1},
        CorrectionsCase{"CodeBeyondTheTable", NavPvt(kFloat, 15), -1.0f, -1},
        CorrectionsCase{"StationOfAnMsm", RxmRtcm(kUsed, 278, 1077) + NavPvt(kFloat, 1), 1.0f, 278},
        CorrectionsCase{"StationOf1230", NavPvt(kFloat, 2) + RxmRtcm(0, 4095, 1230), 2.0f, 4095},
        CorrectionsCase{"CrcFailed", RxmRtcm(kUsed | kCrcFailed, 278, 1077), -1.0f, -1},
        CorrectionsCase{"NotUsed", RxmRtcm(kNotUsed, 278, 1077), -1.0f, -1},
        CorrectionsCase{"EphemerisNamesNoStation", RxmRtcm(kUsed, 0, 1019), -1.0f, -1},
        CorrectionsCase{"LaterFailedFrameKeepsTheStation",
                        RxmRtcm(kUsed, 278, 1077) + RxmRtcm(kCrcFailed, 9, 1077), -1.0f, 278},
        CorrectionsCase{"CorrectionsGoneClearTheStation",
                        RxmRtcm(kUsed, 278, 1077) + NavPvt(kFloat, 1) + NavPvt(kAutonomous, 0),
                        -1.0f, -1},
        CorrectionsCase{"GgaSpeaksWhereItComes",
                        Sentence("GNGGA,1,2,N,3,E,5,12,0.8,257.4,M,47.2,M,0.0,0041") +
                            RxmRtcm(kUsed, 278, 1077) + NavPvt(kFloat, 3),
                        0.0f, 41}),
    [](const ::testing::TestParamInfo<CorrectionsCase> &row) { return row.param.name; });

struct GsaCase {
    const char *body;
    std::int8_t mode;
    std::int8_t used[12];
    std::int16_t pdop, hdop, vdop;
};

class GsaDecode : public ::testing::TestWithParam<GsaCase> {};

TEST_P(GsaDecode, StoresModePrnsAndDops) {
    const GsaCase &c = GetParam();
    CNmeaDecoder port(0);
    // Every GSA rewrites all twelve channels, whatever an earlier one left.
    decodetest::Feed(port, Sentence("GPGSA,A,3,01,02,03,04,05,06,07,08,09,10,11,12,9.9,9.9,9.9"));
    decodetest::Feed(port, Sentence(c.body));
    GpsFix fix;
    port.CopyFix(fix);
    EXPECT_EQ(fix.cFixMode, c.mode);
    for (std::size_t j = 0; j < 12; ++j)
        EXPECT_EQ(fix.cUsedPrn[j], c.used[j]) << "channel " << j;
    EXPECT_EQ(fix.nPdop, c.pdop);
    EXPECT_EQ(fix.nHdop, c.hdop);
    EXPECT_EQ(fix.nVdop, c.vdop);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedValues, GsaDecode,
    ::testing::Values(
        GsaCase{"GPGSA,A,3,5,,33,0,12,,,,,,,,1.2,0.9,2.3", 3, {5, 0, 0, 0, 12}, 12, 9, 23},
        GsaCase{"GPGSA,A,2,32,1,-1,99,256,257,,,,,,,50.0,0.05,3276.8",
                2,
                {32, 1, 0, 0, 0, 0},
                500,
                0,
                static_cast<std::int16_t>(32768)},
        GsaCase{"GNGSA,M,1,,,,,,,,,,,,,,,", 1, {}, 0, 0, 0}));

TEST(GsvDecode, MessageThreeOfTenFillsSlotsEightAndNineOnly) {
    CNmeaDecoder port(0);
    decodetest::Feed(port,
                     Sentence("GPGSV,3,3,12,21,01,001,11,22,02,002,12,23,03,003,13,24,04,004,14"));
    decodetest::Feed(port, Sentence("GPGSV,3,3,10,31,45,270,40,32,05,359,"));
    GpsFix fix;
    port.CopyFix(fix);
    EXPECT_EQ(fix.sat[8].bPrn, 31);
    EXPECT_EQ(fix.sat[8].bElevation, 45);
    EXPECT_EQ(fix.sat[8].nAzimuth, 270);
    EXPECT_EQ(fix.sat[8].bSnr, 40);
    EXPECT_EQ(fix.sat[9].bPrn, 32);
    EXPECT_EQ(fix.sat[9].nAzimuth, 359);
    EXPECT_EQ(fix.sat[9].bSnr, 0); // not tracked
    EXPECT_EQ(fix.sat[10].bPrn, 23);
    EXPECT_EQ(fix.sat[11].bPrn, 24);
    for (int s = 0; s < 8; ++s)
        EXPECT_EQ(fix.sat[s].bPrn, 0) << "slot " << s;
}

TEST(GsvDecode, SlotsBeyondASmallerCycleKeepTheEarlierSatellites) {
    std::string stream;
    for (int m = 1; m <= 3; ++m) {
        std::string body = "GPGSV,3," + std::to_string(m) + ",10";
        for (int i = 0; i < 4 && 4 * (m - 1) + i < 10; ++i)
            body += "," + std::to_string(4 * (m - 1) + i + 1) + ",10,100,30";
        stream += Sentence(body);
    }
    stream += Sentence("GPGSV,2,1,07,20,10,100,30,21,10,100,30,22,10,100,30,23,10,100,30");
    stream += Sentence("GPGSV,2,2,07,24,10,100,30,25,10,100,30,26,10,100,30");
    const GpsFix fix = Decode(stream);
    const int expected[12] = {20, 21, 22, 23, 24, 25, 26, 8, 9, 10, 0, 0};
    for (int s = 0; s < 12; ++s)
        EXPECT_EQ(fix.sat[s].bPrn, expected[s]) << "slot " << s;
}

// Message numbers outside 1-3 would address slots the record does not have.
TEST(GsvDecode, MessagesOutsideOneToThreeAndZeroInViewWriteNothing) {
    for (const char *body : {"GPGSV,4,0,16,01,10,100,30,02,10,100,30,03,10,100,30,04,10,100,30",
                             "GPGSV,4,4,16,01,10,100,30,02,10,100,30,03,10,100,30,04,10,100,30",
                             "GPGSV,9,9,36,01,10,100,30,02,10,100,30,03,10,100,30,04,10,100,30",
                             "GPGSV,4,,16,01,10,100,30,02,10,100,30,03,10,100,30,04,10,100,30",
                             "GPGSV,4,-1,16,01,10,100,30", "GPGSV,1,1,00,01,10,100,30,02,10,100,30",
                             "GPGSV,1,1,,01,10,100,30"}) {
        CNmeaDecoder port(0);
        decodetest::Feed(port, Sentence(body));
        GpsFix fix;
        port.CopyFix(fix);
        EXPECT_TRUE(decodetest::SameRecord(fix, GpsFix{})) << body;
        EXPECT_EQ(port.CopyCounters().nGsv, 1u) << body;
    }
}

TEST(GsvDecode, ThirteenthSatelliteAndLaterHaveNoSlot) {
    std::string stream;
    for (int m = 1; m <= 5; ++m) {
        std::string body = "GPGSV,5," + std::to_string(m) + ",19";
        for (int i = 0; i < 4 && 4 * (m - 1) + i < 19; ++i)
            body += "," + std::to_string(4 * (m - 1) + i + 1) + ",10,100,30";
        stream += Sentence(body);
    }
    const GpsFix fix = Decode(stream);
    for (int s = 0; s < 12; ++s)
        EXPECT_EQ(fix.sat[s].bPrn, s + 1) << "slot " << s;
    for (const SatInfo &sat : fix.sat)
        EXPECT_EQ(sat.bReserved, 0);
}

// Fields that gpsd-style feeds leave empty, wrap or pad.
TEST(GsvDecode, WrapsWideValuesToTheirFields) {
    const GpsFix fix = Decode(Sentence("GPGSV,1,1,1,300,-1,70000,257"));
    EXPECT_EQ(fix.sat[0].bPrn, 44);
    EXPECT_EQ(fix.sat[0].bElevation, 255);
    EXPECT_EQ(fix.sat[0].nAzimuth, 4464);
    EXPECT_EQ(fix.sat[0].bSnr, 1);
}

struct FieldStep {
    std::string field;
    bool end;
};

TEST(NextField, WalksFieldsThenStopsAtTheChecksum) {
    const char text[] = "12,,A*4F\r\n";
    const std::vector<FieldStep> steps = {
        {"12", false}, {"", false}, {"A", false}, {"", true}, {"", true}};
    const char *pos = text;
    char field[CNmeaDecoder::kFieldSize];
    for (std::size_t i = 0; i < steps.size(); ++i) {
        pos = CNmeaDecoder::NextField(pos, field);
        EXPECT_EQ(std::string(field), steps[i].field) << "call " << i;
        EXPECT_EQ(pos == nullptr, steps[i].end) << "call " << i;
    }
}

TEST(NextField, EdgeCases) {
    char field[CNmeaDecoder::kFieldSize];
    std::memset(field, 'x', sizeof field);
    const char empty[] = "";
    EXPECT_EQ(CNmeaDecoder::NextField(empty, field), nullptr);
    EXPECT_EQ(field[0], '\0');

    const char star[] = "*AB";
    EXPECT_EQ(CNmeaDecoder::NextField(star, field), nullptr);
    EXPECT_EQ(field[0], '\0');

    const char last[] = "abc";
    EXPECT_EQ(CNmeaDecoder::NextField(last, field), last + 3); // on the zero, so the next call ends
    EXPECT_STREQ(field, "abc");

    // A field of 30 characters is cut to 19, and the next field is still found.
    const char longField[] = "123456789012345678901234567890,7";
    char guarded[CNmeaDecoder::kFieldSize + 4];
    std::memset(guarded, 'G', sizeof guarded);
    const char *next = CNmeaDecoder::NextField(longField, guarded);
    EXPECT_STREQ(guarded, "1234567890123456789");
    for (std::size_t i = CNmeaDecoder::kFieldSize; i < sizeof guarded; ++i)
        EXPECT_EQ(guarded[i], 'G') << "byte " << i << " written beyond the field";
    ASSERT_NE(next, nullptr);
    CNmeaDecoder::NextField(next, field);
    EXPECT_STREQ(field, "7");
}

TEST(FieldBounds, OverlongFieldIsCutTo19Characters) {
    // Altitude with 25 characters: the first 19 are "0000000000000000123".
    const GpsFix fix =
        Decode(Sentence("GPGGA,1,2,N,3,E,1,08,0.9,0000000000000000123456789,M,,M,,"));
    EXPECT_EQ(fix.wAltitude, 123);
    EXPECT_EQ(fix.cSatsUsed, 8);
}

} // namespace

namespace {

// Faults that once reached the record, each with the sentence that showed it.
struct MendedCase {
    const char *name;
    std::string stream;
    std::function<void(const GpsFix &, const ScanCounters &)> check;
};

const std::string kGoodRmc =
    Sentence("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W");

std::string WithByte(std::string body, std::size_t at, char byte) {
    body[at] = byte;
    return Sentence(body);
}

class MendedFaults : public ::testing::TestWithParam<MendedCase> {};

TEST_P(MendedFaults, Hold) {
    CNmeaDecoder decoder(0);
    decodetest::Feed(decoder, GetParam().stream);
    GpsFix fix;
    decoder.CopyFix(fix);
    GetParam().check(fix, decoder.CopyCounters());
}

const MendedCase kMended[] = {
    {"ChecksumIsNoUsedPrn", "$GPGSA,A,1,,,,*32\r\n",
     [](const GpsFix &f, const ScanCounters &c) {
         EXPECT_EQ(c.nGsa, 1u);
         for (std::int8_t prn : f.cUsedPrn)
             EXPECT_EQ(prn, 0);
     }},
    {"ChecksumIsNoSatellite", "$GPGSV,1,1,02,05,40,083,46*43\r\n",
     [](const GpsFix &f, const ScanCounters &c) {
         EXPECT_EQ(c.nGsv, 1u);
         EXPECT_EQ(f.sat[0].bPrn, 5);
         EXPECT_EQ(f.sat[1].bPrn, 0) << "phantom satellite from the checksum";
     }},
    {"NulDropsTheSentence",
     kGoodRmc +
         WithByte("GPRMC,123520,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", 30, '\0'),
     [](const GpsFix &f, const ScanCounters &c) {
         EXPECT_EQ(c.nRmc, 1u);
         EXPECT_EQ(c.nBadByte, 1u);
         EXPECT_EQ(f.lLongitude, 11516666);
         EXPECT_EQ(f.nYear, 2094);
         EXPECT_EQ(f.bSecond, 19);
     }},
    {"ControlAndHighBytesDropTheSentence",
     WithByte("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", 40, '\x7F') +
         WithByte("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", 9, '\xB0') +
         WithByte("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", 50, '\t'),
     [](const GpsFix &f, const ScanCounters &c) {
         EXPECT_EQ(c.nBadByte, 3u);
         EXPECT_EQ(c.nGga, 0u);
         EXPECT_EQ(f.wAltitude, 0);
     }},
    {"ProprietaryAndOddAddressesAreNotOurs",
     Sentence("PGRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W") +
         Sentence("GPRMCX,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W") +
         Sentence("GpRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W") +
         Sentence("PXGSV,1,1,01,07,40,283,46"),
     [](const GpsFix &f, const ScanCounters &c) {
         EXPECT_EQ(c.Decoded(), 0u);
         EXPECT_EQ(c.nUnknown, 4u);
         EXPECT_EQ(f.bValid, 0);
         EXPECT_EQ(f.sat[0].bPrn, 0);
     }},
    {"InvalidTimeKeepsTheDate",
     Sentence("GPRMC,999999,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"),
     [](const GpsFix &f, const ScanCounters &) {
         EXPECT_EQ(f.bDay, 23);
         EXPECT_EQ(f.bMonth, 3);
         EXPECT_EQ(f.nYear, 2094);
         EXPECT_EQ(f.bHour, 99);
         EXPECT_EQ(f.bMinute, 99);
         EXPECT_EQ(f.bSecond, 99);
     }},
};

INSTANTIATE_TEST_SUITE_P(Decoders, MendedFaults, ::testing::ValuesIn(kMended),
                         [](const auto &row) { return std::string(row.param.name); });

} // namespace
