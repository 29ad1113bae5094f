#include "RestartCommands.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(RestartCommands, SentencesGoOutWithChecksumAndLineEnd)
{
    struct Row {
        const char* (*compose)(char (&)[kSentenceBufferSize]);
        const char* line;
    };
    const Row rows[] = {
        {ComposeColdStart, "$PSRF104,0,0,0,96000,237759,922,12,4*2E\r\n"},
        {ComposeWarmStart, "$PSRF104,0,0,0,96000,237759,922,12,2*28\r\n"},
        {ComposeHotStart, "$PSRF104,0,0,0,96000,237759,922,12,1*2B\r\n"},
    };
    for (const Row& row : rows) {
        char buf[kSentenceBufferSize];
        std::memset(buf, 'Z', sizeof buf);
        const char* line = row.compose(buf);
        EXPECT_EQ(line, buf);
        EXPECT_EQ(std::string(line), row.line);
        EXPECT_EQ(std::strlen(line), 41u);
    }
}

TEST(RestartCommands, AppendChecksum)
{
    struct Row {
        const char* sentence;
        const char* completed;
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
    for (const Row& row : rows) {
        SCOPED_TRACE(row.sentence);
        char buf[32] = {};
        std::strcpy(buf, row.sentence);
        AppendChecksum(buf);
        EXPECT_STREQ(buf, row.completed);
    }
}

TEST(RestartCommands, AppendChecksumNeverWritesPastTheBuffer)
{
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
