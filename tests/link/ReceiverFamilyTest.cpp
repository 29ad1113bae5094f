// Recognising the receiver's maker from its stream: text banners, proprietary sentences and UBX
// frames, alone, split across blocks and through a real port.

#include "receiver/ReceiverFamily.h"
#include "GpsPort.h"
#include "LinkTestSupport.h"
#include "PortTable.h"
#include "model/NmeaDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace std::chrono_literals;

namespace {

using F = ReceiverFamily;

// A UBX-ACK-ACK for a CFG-MSG, as a u-blox receiver answers a configuration.
const std::string kUbxAck("\xB5\x62\x05\x01\x02\x00\x06\x01\x0F\x38", 10);

// The family a decoder's sentences and frames name, the stream fed in two blocks cut at `cut`.
F Recognised(const std::string &stream, std::size_t cut) {
    CReceiverFamily family;
    CNmeaDecoder decoder(0);
    decoder.SetHooks({{},
                      [&](const char *s, std::size_t n) { family.OnSentence(s, n); },
                      {},
                      [&](FrameProtocol protocol, const unsigned char *, std::size_t) {
                          if (protocol == FrameProtocol::Ubx)
                              family.OnUbxFrame();
                      }});
    cut = std::min(cut, stream.size());
    decoder.ParseBuffer(stream.data(), static_cast<int>(cut));
    decoder.ParseBuffer(stream.data() + cut, static_cast<int>(stream.size() - cut));
    return family.Current();
}

F AfterSentences(const std::string &text) {
    return Recognised(text, text.size());
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
    const std::string stream = "$GPGGA,1*00\r\n" + kUbxAck + "$GPGSA";
    for (std::size_t cut = 0; cut <= stream.size(); ++cut)
        EXPECT_EQ(Recognised(stream, cut), F::Ublox) << "cut at " << cut;
    // Stray sync bytes, a wrong checksum, an absurd length: not a frame.
    std::string wrong = kUbxAck;
    wrong.back() = 0x39;
    const std::string strays[] = {std::string("\xB5\x62", 2), wrong,
                                  std::string("\xB5\x62\x01\x07\xFF\xFF", 6) + kUbxAck.substr(2)};
    for (const std::string &s : strays)
        EXPECT_EQ(AfterSentences(s), F::Unknown);
    // A good frame right after a false start is still found.
    EXPECT_EQ(AfterSentences(std::string("\xB5\xB5", 2) + kUbxAck), F::Ublox);
}

// A stream with two makers' marks: the later one counts, however the blocks cut it.
TEST(ReceiverFamily, LaterOfFrameAndSentenceCountsWhereverTheBlockEdgeFalls) {
    const std::string mtk = Sentence("$PMTK011,MTKGPS");
    // A sync pair whose length reaches past the sentence and the frame after it, with a wrong
    // checksum: both are read again once it proves false, the frame still the later.
    std::string swallowing("\xB5\x62\x01\x07", 4);
    const std::size_t reach = mtk.size() + kUbxAck.size();
    swallowing += {static_cast<char>(reach & 0xFF), static_cast<char>(reach >> 8)};
    const struct {
        std::string stream;
        F family;
    } rows[] = {{mtk + kUbxAck, F::Ublox},
                {kUbxAck + mtk, F::Mtk},
                {swallowing + mtk + kUbxAck + std::string(2, '\0'), F::Ublox}};
    for (const auto &row : rows) {
        for (std::size_t cut = 0; cut <= row.stream.size(); ++cut)
            EXPECT_EQ(Recognised(row.stream, cut), row.family) << "cut at " << cut;
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
