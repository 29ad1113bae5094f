// Recognising the receiver's maker from its stream: text banners, proprietary sentences and UBX
// frames, alone, split across blocks and through a real port.

#include "ReceiverFamily.h"
#include "GpsPort.h"
#include "LinkTestSupport.h"
#include "NmeaDecoder.h"
#include "PortTable.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::chrono_literals;

namespace {

using F = ReceiverFamily;

// A UBX-ACK-ACK for a CFG-MSG, as a u-blox receiver answers a configuration.
const std::string kUbxAck("\xB5\x62\x05\x01\x02\x00\x06\x01\x0F\x38", 10);

F AfterSentences(const std::string &text) {
    CReceiverFamily family;
    CNmeaDecoder decoder(0);
    decoder.SetHooks(
        {{}, [&](const char *s, std::size_t len) { family.OnSentence(s, len); }, {}, {}});
    decoder.ParseBuffer(text.data(), static_cast<int>(text.size()));
    return family.Current();
}

TEST(ReceiverFamily, SentencesNameTheirMaker) {
    const struct {
        const char *body;
        F family;
    } rows[] = {
        {"$GNTXT,01,01,02,u-blox AG - www.u-blox.com", F::Ublox},
        {"$GPTXT,01,01,02,PROTVER=18.00", F::Ublox},
        {"$GNTXT,01,01,02,ROM CORE 3.01 (107888)", F::Ublox},
        {"$PUBX,00,081350.00,4717.113210,N,00833.915187,E,546.589,G3,2.1,2.0,0.007,77.52,0.007,,"
         "0.92,1.19,0.77,9,0,0",
         F::Ublox},
        {"$PMTK011,MTKGPS", F::Mtk},
        {"$GPTXT,01,01,02,MA=CASIC", F::Casic},
        {"$GPTXT,01,01,02,IC=AT6558-5N-32-1C510800", F::Casic},
        {"$PCAS06,0", F::Casic},
        {"$PSTMVER,GNSSLIB_8.4.18.25_ARM", F::St},
        {"$PSRFTXT,Version:GSW3.5.0", F::Sirf},
        // Says nothing about its maker.
        {"$GPTXT,01,01,01,ANTENNA OK", F::Unknown},
        {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", F::Unknown},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.body);
        EXPECT_EQ(AfterSentences(Sentence(row.body)), row.family);
    }
    // A bad checksum names nobody, and a banner word outside a TXT sentence neither.
    std::string bad = Sentence("$PMTK011,MTKGPS");
    bad[bad.size() - 3] ^= 1;
    EXPECT_EQ(AfterSentences(bad), F::Unknown);
    EXPECT_EQ(AfterSentences(Sentence("$GPGLL,u-blox")), F::Unknown);
    // The last one recognised counts.
    EXPECT_EQ(AfterSentences(Sentence("$PMTK011,MTKGPS") + Sentence("$PSTMVER,8")), F::St);
}

TEST(ReceiverFamily, UbxFrameNeedsItsChecksumAndSurvivesAnySplit) {
    for (std::size_t cut = 0; cut <= kUbxAck.size(); ++cut) {
        CReceiverFamily family;
        const std::string stream = "$GPGGA,1*00\r\n" + kUbxAck + "$GPGSA";
        const std::size_t at = 13 + cut;
        family.OnBlock(stream.data(), at);
        family.OnBlock(stream.data() + at, stream.size() - at);
        EXPECT_EQ(family.Current(), F::Ublox) << "cut at " << cut;
        family.Reset();
        EXPECT_EQ(family.Current(), F::Unknown);
        // The scan rests while the family is u-blox; after a reset it looks again.
        family.OnBlock(stream.data(), stream.size());
        EXPECT_EQ(family.Current(), F::Ublox) << "again, cut at " << cut;
    }
    // Stray sync bytes, a wrong checksum, an absurd length: not a frame.
    std::string wrong = kUbxAck;
    wrong.back() = 0x39;
    const std::string strays[] = {std::string("\xB5\x62", 2), wrong,
                                  std::string("\xB5\x62\x01\x07\xFF\xFF", 6) + kUbxAck.substr(2)};
    for (const std::string &s : strays) {
        CReceiverFamily family;
        family.OnBlock(s.data(), s.size());
        EXPECT_EQ(family.Current(), F::Unknown);
    }
    // A good frame right after a false start is still found.
    CReceiverFamily family;
    const std::string stream = std::string("\xB5\xB5", 2) + kUbxAck;
    family.OnBlock(stream.data(), stream.size());
    EXPECT_EQ(family.Current(), F::Ublox);
}

// A stream with two makers' marks: the later one counts, however the blocks cut it.
TEST(ReceiverFamily, LaterOfFrameAndSentenceCountsWhereverTheBlockEdgeFalls) {
    const std::string mtk = Sentence("$PMTK011,MTKGPS");
    const struct {
        std::string stream;
        F family;
    } rows[] = {{mtk + kUbxAck, F::Ublox}, {kUbxAck + mtk, F::Mtk}};
    for (const auto &row : rows) {
        for (std::size_t cut = 0; cut <= row.stream.size(); ++cut) {
            CReceiverFamily family;
            CNmeaDecoder decoder(0);
            decoder.SetHooks({[&](const char *b, std::size_t n) { family.OnBlock(b, n); },
                              [&](const char *s, std::size_t n) { family.OnSentence(s, n); },
                              {},
                              {}});
            decoder.ParseBuffer(row.stream.data(), static_cast<int>(cut));
            decoder.ParseBuffer(row.stream.data() + cut, static_cast<int>(row.stream.size() - cut));
            EXPECT_EQ(family.Current(), row.family) << "cut at " << cut;
        }
    }
}

// Through a real port: the reader hands raw blocks on, and a new Open forgets the receiver.
TEST(ReceiverFamily, PortRecognisesFromItsReaderAndForgetsOnOpen) {
    CPtyPair pty;
    ASSERT_TRUE(pty.Valid());
    constexpr int kPort = 7;
    platform::BindPort(kPort, pty.SlavePath());
    CGpsPort port(0);
    ASSERT_TRUE(port.Open(kPort, 4800));
    EXPECT_EQ(port.Family(), F::Unknown);
    ASSERT_TRUE(pty.Write(kUbxAck));
    EXPECT_TRUE(WaitUntil([&] { return port.Family() == F::Ublox; }, 3s));
    ASSERT_TRUE(port.Open(kPort, 4800));
    EXPECT_EQ(port.Family(), F::Unknown);
    ASSERT_TRUE(pty.Write(Sentence("$PMTK011,MTKGPS")));
    EXPECT_TRUE(WaitUntil([&] { return port.Family() == F::Mtk; }, 3s));
    port.Close();
    platform::UnbindAllPorts();
}

} // namespace
