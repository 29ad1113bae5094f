#include "receiver/RestartCommands.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(RestartCommands, SentencesGoOutWithChecksumAndLineEnd) {
    struct Row {
        const char *(*compose)(char (&)[kSentenceBufferSize]);
        const char *line;
    };
    const Row rows[] = {
        {ComposeColdStart, "$PSRF104,0,0,0,96000,237759,922,12,4*2E\r\n"},
        {ComposeWarmStart, "$PSRF104,0,0,0,96000,237759,922,12,2*28\r\n"},
        {ComposeHotStart, "$PSRF104,0,0,0,96000,237759,922,12,1*2B\r\n"},
    };
    for (const Row &row : rows) {
        char buf[kSentenceBufferSize];
        std::memset(buf, 'Z', sizeof buf);
        const char *line = row.compose(buf);
        EXPECT_EQ(line, buf);
        EXPECT_EQ(std::string(line), row.line);
        EXPECT_EQ(std::strlen(line), 41u);
    }
}

TEST(RestartCommands, AppendChecksum) {
    struct Row {
        const char *sentence;
        const char *completed;
    };
    const Row rows[] = {
        // "O" is 0x4F: the low digit is a letter, and upper case.
        {"$O", "$O*4F\r\n"},
        // The "$" is not part of the sum.
        {"$", "$*00\r\n"},
        {"$A", "$A*41\r\n"},
        // Commas are: "," is 0x2C.
        {"$,", "$,*2C\r\n"},
        {"$A,B", "$A,B*2F\r\n"},
        {"$GPGGA,,", "$GPGGA,,*56\r\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.sentence);
        char buf[32] = {};
        std::strcpy(buf, row.sentence);
        AppendChecksum(buf);
        EXPECT_STREQ(buf, row.completed);
    }
}

TEST(RestartCommands, AppendChecksumNeverWritesPastTheBuffer) {
    // Room for exactly the six bytes: completed.
    char exact[9] = "$AB";
    AppendChecksum(exact);
    EXPECT_STREQ(exact, "$AB*03\r\n");

    // One byte short, not terminated, or not a sentence: left alone.
    char tight[8] = "$AB";
    AppendChecksum(tight);
    EXPECT_STREQ(tight, "$AB");
    char unterminated[4] = {'$', 'A', 'B', 'C'};
    AppendChecksum(unterminated);
    EXPECT_EQ(std::string(unterminated, 4), "$ABC");
    char plain[16] = "GPGGA";
    AppendChecksum(plain);
    EXPECT_STREQ(plain, "GPGGA");
    AppendChecksum(nullptr, 16);
}

} // namespace

namespace {

// Each family's restart, byte for byte, as its maker's protocol description gives it.
TEST(RestartCommands, EachFamilyGetsItsOwnBytes) {
    using F = ReceiverFamily;
    using K = RestartKind;
    const std::string ubxCold("\xB5\x62\x06\x04\x04\x00\xFF\xFF\x02\x00\x0E\x61", 12);
    const std::string ubxWarm("\xB5\x62\x06\x04\x04\x00\x01\x00\x02\x00\x11\x6C", 12);
    const std::string ubxHot("\xB5\x62\x06\x04\x04\x00\x00\x00\x02\x00\x10\x68", 12);
    const struct {
        F family;
        K kind;
        std::string bytes;
    } rows[] = {
        {F::Unknown, K::Cold, "$PSRF104,0,0,0,96000,237759,922,12,4*2E\r\n"},
        {F::Unknown, K::Warm, "$PSRF104,0,0,0,96000,237759,922,12,2*28\r\n"},
        {F::Sirf, K::Hot, "$PSRF104,0,0,0,96000,237759,922,12,1*2B\r\n"},
        {F::Ublox, K::Cold, ubxCold},
        {F::Ublox, K::Warm, ubxWarm},
        {F::Ublox, K::Hot, ubxHot},
        {F::Mtk, K::Cold, "$PMTK103*30\r\n"},
        {F::Mtk, K::Warm, "$PMTK102*31\r\n"},
        {F::Mtk, K::Hot, "$PMTK101*32\r\n"},
        {F::Casic, K::Cold, "$PCAS10,2*1E\r\n"},
        {F::Casic, K::Warm, "$PCAS10,1*1D\r\n"},
        {F::Casic, K::Hot, "$PCAS10,0*1C\r\n"},
        {F::St, K::Cold, "$PSTMCOLD*1E\r\n"},
        {F::St, K::Warm, "$PSTMWARM*13\r\n"},
        {F::St, K::Hot, "$PSTMHOT*49\r\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(FamilyName(row.family)) + ", " + RestartName(row.kind));
        EXPECT_EQ(ComposeRestart(row.family, row.kind), row.bytes);
    }
}

} // namespace
