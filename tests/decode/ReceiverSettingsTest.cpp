#include "receiver/ReceiverSettings.h"
#include "protocol/WholeNumber.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace {

std::string FromHex(const std::string &hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// Each command as the makers' documents print it (NMEA with its checksum, UBX as hex), or the
// start of the reason it cannot be sent.
struct ComposeRow {
    ReceiverFamily family;
    int protocolVersion;
    const char *setting;
    bool oneKeyEach;
    std::vector<std::string> bytes; // each step's bytes; NMEA without CR LF, UBX as "hex:..."
    const char *why;                // when nothing is composed
};

const ComposeRow kComposeRows[] = {
    {ReceiverFamily::Mtk, 0, "rate=5", false, {"$PMTK220,200*2C"}, ""},
    {ReceiverFamily::Mtk, 0, "rate=1", false, {"$PMTK220,1000*1F"}, ""},
    {ReceiverFamily::Mtk, 0, "gnss=gps", false, {"$PMTK353,1,0,0,0,0*2A"}, ""},
    {ReceiverFamily::Mtk, 0, "baud=38400", false, {"$PMTK251,38400*27"}, ""},
    {ReceiverFamily::Mtk, 0, "save", false, {}, "not supported"},
    {ReceiverFamily::Mtk, 0, "gnss=GLO,GAL", false, {}, "refused"},
    {ReceiverFamily::Casic, 0, "rate=1", false, {"$PCAS02,1000*2E"}, ""},
    {ReceiverFamily::Casic, 0, "rate=2", false, {"$PCAS02,500*1A"}, ""},
    {ReceiverFamily::Casic, 0, "rate=10", false, {}, "refused"},
    {ReceiverFamily::Casic, 0, "gnss=GPS,BDS", false, {"$PCAS04,3*1A"}, ""},
    {ReceiverFamily::Casic, 0, "gnss=GPS,GAL", false, {}, "not supported"},
    {ReceiverFamily::Casic, 0, "baud=9600", false, {"$PCAS01,1*1D"}, ""},
    {ReceiverFamily::Casic, 0, "baud=115200", false, {"$PCAS01,5*19"}, ""},
    {ReceiverFamily::Casic, 0, "save", false, {"$PCAS00*01"}, ""},
    {ReceiverFamily::St, 0, "baud=115200", false, {"$PSTMSETPAR,1102,0xA*10"}, ""},
    {ReceiverFamily::St, 0, "rate=5", false, {"$PSTMSETPAR,1303,0.2*36"}, ""},
    {ReceiverFamily::St, 0, "rate=1", false, {"$PSTMSETPAR,1303,1.0*35"}, ""},
    {ReceiverFamily::St, 0, "save", false, {"$PSTMSAVEPAR*58", "$PSTMSRR*49"}, ""},
    {ReceiverFamily::Sirf, 0, "baud=9600", false, {"$PSRF100,1,9600,8,1,0*0D"}, ""},
    {ReceiverFamily::Sirf, 0, "rate=5", false, {}, "not supported"},
    {ReceiverFamily::Unknown, 0, "baud=9600", false, {}, "not supported"},
    // UBX-CFG-RATE 1 Hz and 5 Hz, UBX-CFG-CFG saving everything.
    {ReceiverFamily::Ublox, 1800, "rate=1", false, {"hex:B56206080600E803010001000139"}, ""},
    {ReceiverFamily::Ublox, 1800, "rate=5", false, {"hex:B56206080600C80001000100DE6A"}, ""},
    {ReceiverFamily::Ublox,
     0,
     "save",
     false,
     {"hex:B56206090D0000000000FFFF0000000000001731BF"},
     ""},
    {ReceiverFamily::Ublox,
     2711,
     "save",
     false,
     {"hex:B56206090D0000000000FFFF0000000000001731BF"},
     ""},
    // CFG-PRT UART1 at 38400, 8N1.
    {ReceiverFamily::Ublox,
     1800,
     "baud=38400",
     false,
     {"hex:B5620600140001000000D0080000009600002700030000000000B390"},
     ""},
    // CFG-VALSET to RAM: CFG-RATE-MEAS 200 ms, CFG-UART1-BAUDRATE 115200.
    {ReceiverFamily::Ublox,
     2711,
     "rate=5",
     false,
     {"hex:B562068A0A000001000001002130C800B581"},
     ""},
    {ReceiverFamily::Ublox,
     2711,
     "baud=115200",
     false,
     {"hex:B562068A0C00000100000100524000C20100F3A5"},
     ""},
};

TEST(ReceiverSettings, ComposesTheMakersCommands) {
    for (const ComposeRow &row : kComposeRows) {
        SCOPED_TRACE(std::string(FamilyName(row.family)) + " " + row.setting);
        Setting setting;
        std::string why;
        ASSERT_TRUE(ParseSetting(row.setting, setting, why)) << why;
        const std::vector<ConfigStep> steps =
            ComposeSetting(row.family, row.protocolVersion, setting, row.oneKeyEach, why);
        ASSERT_EQ(steps.size(), row.bytes.size()) << why;
        if (steps.empty()) {
            EXPECT_EQ(why.rfind(row.why, 0), 0u) << why;
        }
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const std::string &want = row.bytes[i];
            const bool bUbx = want.rfind("hex:", 0) == 0;
            EXPECT_EQ(steps[i].bytes, bUbx ? FromHex(want.substr(4)) : want + "\r\n");
            EXPECT_FALSE(steps[i].what.empty());
        }
    }
}

TEST(ReceiverSettings, RetriesKeyByKeyNamingEachKey) {
    Setting setting;
    std::string why;
    ASSERT_TRUE(ParseSetting("gnss=GPS,GAL,GLO", setting, why));
    const auto whole = ComposeSetting(ReceiverFamily::Ublox, 2711, setting, false, why);
    const auto each = ComposeSetting(ReceiverFamily::Ublox, 2711, setting, true, why);
    ASSERT_EQ(whole.size(), 1u);
    ASSERT_EQ(each.size(), 6u);
    // CFG-SIGNAL-QZSS_ENA off, alone in its VALSET.
    const auto qzss = std::find_if(each.begin(), each.end(), [](const ConfigStep &s) {
        return s.what == "CFG-SIGNAL-QZSS_ENA";
    });
    ASSERT_NE(qzss, each.end());
    EXPECT_EQ(qzss->bytes, FromHex("B562068A0900000100002400311000FF98"));
    for (const ConfigStep &step : each)
        EXPECT_EQ(step.reply.kind, ReplyMatch::Kind::UbxAck);
}

// Replies as receivers send them, against the step they answer.
struct ReplyRow {
    ReceiverFamily family;
    const char *setting;
    const char *reply; // a sentence, or "hex:" a UBX frame
    int expected;
};

const ReplyRow kReplyRows[] = {
    {ReceiverFamily::Mtk, "rate=5", "$PMTK001,220,3*30\r\n", 1},
    {ReceiverFamily::Mtk, "rate=5", "$PMTK001,220,2*31\r\n", -1},
    {ReceiverFamily::Mtk, "rate=5", "$PMTK001,353,3,1,0,0,0,0,1*35\r\n", 0},
    {ReceiverFamily::Mtk, "gnss=GPS", "$PMTK001,353,3,1,0,0,0,0,1*35\r\n", 1},
    {ReceiverFamily::Mtk, "gnss=GPS", "$PMTK001,353,1*37\r\n", -1},
    {ReceiverFamily::St, "rate=5", "$PSTMSETPAROK,1303*32\r\n", 1},
    {ReceiverFamily::St, "rate=5", "$PSTMSETPARERROR*43\r\n", -1},
    {ReceiverFamily::St, "rate=5", "$GNGGA,,,,,,0,00,99.99,,,,,,*56\r\n", 0},
    {ReceiverFamily::St, "save", "$PSTMSAVEPAROK*5C\r\n", 1},
    {ReceiverFamily::Ublox, "save", "hex:B5620501020006091740", 1},
    {ReceiverFamily::Ublox, "save", "hex:B562050002000609163B", -1},
    {ReceiverFamily::Ublox, "save", "hex:B562050102000608163F", 0}, // CFG-RATE's
    {ReceiverFamily::Ublox, "save", "hex:B5620501020006091741", 0}, // bad checksum
};

TEST(ReceiverSettings, TellsAcknowledgementsFromRefusals) {
    for (const ReplyRow &row : kReplyRows) {
        SCOPED_TRACE(std::string(FamilyName(row.family)) + " " + row.setting + " " + row.reply);
        Setting setting;
        std::string why;
        ASSERT_TRUE(ParseSetting(row.setting, setting, why));
        const auto steps = ComposeSetting(row.family, 1800, setting, false, why);
        ASSERT_FALSE(steps.empty()) << why;
        const std::string reply = row.reply;
        if (reply.rfind("hex:", 0) == 0) {
            const std::string frame = FromHex(reply.substr(4));
            EXPECT_EQ(MatchUbxFrame(steps[0].reply,
                                    reinterpret_cast<const unsigned char *>(frame.data()),
                                    frame.size()),
                      row.expected);
        } else {
            EXPECT_EQ(MatchSentence(steps[0].reply, reply.data(), reply.size()), row.expected);
        }
    }
}

TEST(ReceiverSettings, ParsesAndRefusesSettings) {
    const struct {
        const char *text;
        bool ok;
        const char *name, *value;
    } kRows[] = {
        {"rate=10", true, "rate", "10"},
        {"gnss=bds, gps,Galileo", true, "gnss", "GPS,GAL,BDS"},
        {"baud=115200", true, "baud", "115200"},
        {"save", true, "save", ""},
        {"rate=0", false, "", ""},
        {"rate=5x", false, "", ""},
        {"rate=", false, "", ""},
        {"gnss=", false, "", ""},
        {"gnss=GPS,NAVIC", false, "", ""},
        {"baud=12345", false, "", ""},
        {"baud=-9600", false, "", ""},
        {"speed=5", false, "", ""},
        {"", false, "", ""},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.text);
        Setting setting;
        std::string why;
        EXPECT_EQ(ParseSetting(row.text, setting, why), row.ok);
        if (!row.ok) {
            EXPECT_FALSE(why.empty());
            continue;
        }
        EXPECT_STREQ(SettingName(setting.kind), row.name);
        EXPECT_EQ(SettingValue(setting), row.value);
    }
}

// The one whole-number reader of the settings, the tools' options and the simulator's commands.
TEST(ReceiverSettings, ReadsWholeNumbersOnly) {
    const struct {
        const char *text;
        int base;
        bool ok;
        int value; // 7, as it was, when refused
    } kRows[] = {
        {"115200", 10, true, 115200},
        {"-5", 10, true, -5},
        {"2147483647", 10, true, 2147483647},
        {"2147483648", 10, false, 7},
        {"-2147483649", 10, false, 7},
        {"+5", 10, false, 7},
        {" 5", 10, false, 7},
        {"5 ", 10, false, 7},
        {"5x", 10, false, 7},
        {"1e3", 10, false, 7},
        {"", 10, false, 7},
        {"0xA", 16, true, 10},
        {"0Xa", 16, true, 10},
        {"12", 16, true, 18},
        {"0x", 16, false, 7},
        {"0x-5", 16, false, 7},
        {"-5", 16, false, 7},
        {"0x+5", 16, false, 7},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.text);
        int value = 7;
        EXPECT_EQ(ParseWholeNumber(row.text, value, row.base), row.ok);
        EXPECT_EQ(value, row.value);
    }
}

TEST(ReceiverSettings, FitsTheLineOrSaysWhy) {
    const unsigned four = kGnssGps | kGnssGlonass | kGnssGalileo | kGnssBeidou;
    std::string why;
    EXPECT_FALSE(FitsLine(10, four, 9600, why));
    EXPECT_NE(why.find("10 Hz of 4 systems needs about"), std::string::npos) << why;
    EXPECT_NE(why.find("9600 baud carries 960"), std::string::npos) << why;
    EXPECT_TRUE(FitsLine(10, four, 115200, why));
    // The simulator's own default: four systems once a second at 9600 baud.
    EXPECT_TRUE(FitsLine(1, four, 9600, why));
    EXPECT_FALSE(FitsLine(5, four, 9600, why));
    EXPECT_TRUE(FitsLine(10, four, 0, why)); // a network source has no line to fill
}

} // namespace
