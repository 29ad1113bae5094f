#include "protocol/UbxMessages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using namespace ubx;

namespace {

std::vector<std::uint8_t> Bytes(const char *hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    return out;
}

template <class T> Result ReadOne(const std::vector<std::uint8_t> &p, T &out) {
    return Read(p.data(), p.size(), out);
}

template <class T> Result ReadAll(const std::vector<std::uint8_t> &p, std::vector<T> &out) {
    out.assign(64, T{});
    std::size_t n = 0;
    const Result r = Read(p.data(), p.size(), out.data(), out.size(), n);
    out.resize(n);
    return r;
}

template <class T> Result Reads(const std::vector<std::uint8_t> &p) {
    T out{};
    return ReadOne(p, out);
}

template <class T> Result ReadsAll(const std::vector<std::uint8_t> &p) {
    std::vector<T> out;
    return ReadAll(p, out);
}

struct Row {
    const char *name;
    std::uint8_t cls, id;
    const char *payload;   // one real frame's payload, from the capture named in the row
    std::size_t shortest;  // the shortest payload that reads: the fixed part, or all its blocks
    std::size_t alsoReads; // a shorter length that is another layout's whole frame, or 0
    int versionAt;         // offset of the version byte, or -1
    std::function<Result(const std::vector<std::uint8_t> &)> read;
    std::function<void(const std::vector<std::uint8_t> &)> expect;
};

const Row kRows[] = {
    {"NAV-PVT", 0x01, 0x07, // ublox-zed-f9r.log, RTK float
     "5070BC1EE907040B170E08371500000044CD02000343EA1915AE9004B87DDC1AFFA504007CED03005C000000"
     "58000000F9FFFFFF0000000021000000070000006EFB2101C400000080A812018E000000042D4B346EFB2101"
     "00000000",
     92, 0, -1, Reads<NavPvt>,
     [](const std::vector<std::uint8_t> &p) {
         NavPvt v;
         ASSERT_EQ(ReadOne(p, v), Result::Ok);
         EXPECT_EQ(v.iTow, 515666000u);
         EXPECT_EQ(v.year, 2025);
         EXPECT_EQ(v.month, 4);
         EXPECT_EQ(v.day, 11);
         EXPECT_EQ(v.hour, 23);
         EXPECT_EQ(v.min, 14);
         EXPECT_EQ(v.sec, 8);
         EXPECT_TRUE(v.validDate && v.validTime && v.fullyResolved);
         EXPECT_EQ(v.fixType, 3);
         EXPECT_TRUE(v.gnssFixOk);
         EXPECT_TRUE(v.diffSoln);
         EXPECT_EQ(v.carrSoln, 1);
         EXPECT_EQ(v.numSv, 25);
         EXPECT_EQ(v.lat, 450657720);
         EXPECT_EQ(v.lon, 76590613);
         EXPECT_EQ(v.height, 304639);
         EXPECT_EQ(v.hMsl, 257404);
         EXPECT_EQ(v.hAcc, 92u);
         EXPECT_EQ(v.vAcc, 88u);
         EXPECT_EQ(v.gSpeed, 7);
         EXPECT_EQ(v.headMot, 19004270);
         EXPECT_EQ(v.sAcc, 196u);
         EXPECT_EQ(v.pDop, 142);
         EXPECT_FALSE(v.invalidLlh);
     }},
    {"NAV-HPPOSLLH", 0x01, 0x14, // ublox-zed-f9p-hp.log
     "0000000010E6B9095A41A0650AA5A7E432720000336B0000F20EFC00A6350200D6F70100", 36, 0, 0,
     Reads<NavHpposllh>,
     [](const std::vector<std::uint8_t> &p) {
         NavHpposllh v;
         ASSERT_EQ(ReadOne(p, v), Result::Ok);
         EXPECT_EQ(v.iTow, 163178000u);
         EXPECT_FALSE(v.invalidLlh);
         EXPECT_EQ(v.lat, -458775286);
         EXPECT_EQ(v.latHp, 14);
         EXPECT_EQ(v.lon, 1705001306);
         EXPECT_EQ(v.lonHp, -14);
         EXPECT_EQ(v.height, 29234);
         EXPECT_EQ(v.heightHp, -4);
         EXPECT_EQ(v.hMsl, 27443);
         EXPECT_EQ(v.hMslHp, 0);
         EXPECT_EQ(v.hAcc, 144806u);
         EXPECT_EQ(v.vAcc, 128982u);
     }},
    {"NAV-DOP", 0x01, 0x04, // ublox-zed-f9r.log
     "5070BC1EA3008E005000750052004A002200", 18, 0, -1, Reads<NavDop>,
     [](const std::vector<std::uint8_t> &p) {
         NavDop v;
         ASSERT_EQ(ReadOne(p, v), Result::Ok);
         EXPECT_EQ(v.iTow, 515666000u);
         EXPECT_EQ(v.gDop, 163);
         EXPECT_EQ(v.pDop, 142);
         EXPECT_EQ(v.tDop, 80);
         EXPECT_EQ(v.vDop, 117);
         EXPECT_EQ(v.hDop, 82);
         EXPECT_EQ(v.nDop, 74);
         EXPECT_EQ(v.eDop, 34);
     }},
    {"NAV-STATUS", 0x01, 0x03, // u-blox-m8t-time.log, time-only fix
     "18DE2D0E05DD0008FC3A0000CEE20100", 16, 0, -1, Reads<NavStatus>,
     [](const std::vector<std::uint8_t> &p) {
         NavStatus v;
         ASSERT_EQ(ReadOne(p, v), Result::Ok);
         EXPECT_EQ(v.iTow, 237887000u);
         EXPECT_EQ(v.gpsFix, 5);
         EXPECT_TRUE(v.gpsFixOk);
         EXPECT_FALSE(v.diffSoln);
         EXPECT_EQ(v.carrSoln, 0);
         EXPECT_EQ(v.spoofDetState, 1);
         EXPECT_EQ(v.ttff, 15100u);
         EXPECT_EQ(v.msss, 123598u);
     }},
    {"NAV-TIMEUTC", 0x01, 0x21, // u-blox-m8t-time.log
     "18DE2D0E07040000C4E80400E507021712041DF7", 20, 0, -1, Reads<NavTimeutc>,
     [](const std::vector<std::uint8_t> &p) {
         NavTimeutc v;
         ASSERT_EQ(ReadOne(p, v), Result::Ok);
         EXPECT_EQ(v.iTow, 237887000u);
         EXPECT_EQ(v.tAcc, 1031u);
         EXPECT_EQ(v.nano, 321732);
         EXPECT_EQ(v.year, 2021);
         EXPECT_EQ(v.month, 2);
         EXPECT_EQ(v.day, 23);
         EXPECT_EQ(v.hour, 18);
         EXPECT_EQ(v.min, 4);
         EXPECT_EQ(v.sec, 29);
         EXPECT_TRUE(v.validTow && v.validWkn && v.validUtc);
     }},
    {"NAV-SOL", 0x01, 0x06, // ublox-neo-m8t.log
     "A06617190B110000E80703DDFE24C7F155369FE8A9C74F1AA50000000100000001000000FFFFFFFF02000000AD"
     "0002094A640300",
     52, 0, -1, Reads<NavSol>,
     [](const std::vector<std::uint8_t> &p) {
         NavSol v;
         ASSERT_EQ(ReadOne(p, v), Result::Ok);
         EXPECT_EQ(v.iTow, 420964000u);
         EXPECT_EQ(v.gpsFix, 3);
         EXPECT_TRUE(v.gpsFixOk && v.wknSet && v.towSet);
         EXPECT_FALSE(v.diffSoln);
         EXPECT_EQ(v.ecefX, -238607106);
         EXPECT_EQ(v.ecefY, -392219051);
         EXPECT_EQ(v.ecefZ, 441436073);
         EXPECT_EQ(v.pAcc, 165u);
         EXPECT_EQ(v.ecefVx, 1);
         EXPECT_EQ(v.ecefVy, 1);
         EXPECT_EQ(v.ecefVz, -1);
         EXPECT_EQ(v.sAcc, 2u);
         EXPECT_EQ(v.pDop, 173);
         EXPECT_EQ(v.numSv, 9);
     }},
    {"NAV-POSLLH", 0x01, 0x02, // u-blox-m8t-time.log
     "18DE2D0EA5EFFCD605AAAE1A7435000094A800008B500000F4380000", 28, 0, -1, Reads<NavPosllh>,
     [](const std::vector<std::uint8_t> &p) {
         NavPosllh v;
         ASSERT_EQ(ReadOne(p, v), Result::Ok);
         EXPECT_EQ(v.iTow, 237887000u);
         EXPECT_EQ(v.lat, 447654405);
         EXPECT_EQ(v.lon, -688066651);
         EXPECT_EQ(v.height, 13684);
         EXPECT_EQ(v.hMsl, 43156);
         EXPECT_EQ(v.hAcc, 20619u);
         EXPECT_EQ(v.vAcc, 14580u);
     }},
    {"NAV-SAT", 0x01, 0x35, // ublox8-uniqid-monhw.log: GPS 4 has no position (elevation -91)
     "70C97104010C000000061A415500A3FF1D090000000C1EA50000000007000000001421089E00C9FF1F09000000"
     "161F1178003C001F09000000181925E100F8001C09000000192617300105001F0900000020000337010000111200"
     "00018528219B0000000707000001870022CA00000001070000018A0024A70000000107000006101D089400ECFF"
     "1F09000006151C04DF00000016120000",
     152, 0, 4, ReadsAll<SvInfo>,
     [](const std::vector<std::uint8_t> &p) {
         std::vector<SvInfo> v;
         ASSERT_EQ(ReadAll(p, v), Result::Ok);
         ASSERT_EQ(v.size(), 12u);
         EXPECT_EQ(v[0].gnssId, 0);
         EXPECT_EQ(v[0].svId, 6);
         EXPECT_EQ(v[0].cno, 26);
         EXPECT_EQ(v[0].elev, 65);
         EXPECT_EQ(v[0].azim, 85);
         EXPECT_TRUE(v[0].elevAzimKnown);
         EXPECT_EQ(v[0].qualityInd, 5);
         EXPECT_TRUE(v[0].svUsed);
         EXPECT_EQ(v[0].health, 1);
         EXPECT_EQ(v[1].svId, 12);
         EXPECT_EQ(v[1].elev, -91);
         EXPECT_FALSE(v[1].elevAzimKnown);
         EXPECT_FALSE(v[1].svUsed);
         EXPECT_EQ(v[1].health, 0);
         EXPECT_EQ(v[1].qualityInd, 7);
         EXPECT_EQ(v[7].gnssId, 1);
         EXPECT_EQ(v[7].svId, 133);
         EXPECT_EQ(v[7].qualityInd, 7);
         EXPECT_FALSE(v[7].svUsed);
         EXPECT_EQ(v[7].health, 0);
         EXPECT_EQ(v[10].gnssId, 6);
         EXPECT_EQ(v[10].svId, 16);
         EXPECT_EQ(v[10].azim, 148);
         SvInfo two[2];
         std::size_t n = 0;
         EXPECT_EQ(Read(p.data(), p.size(), two, 2, n), Result::Ok);
         EXPECT_EQ(n, 2u);
         EXPECT_EQ(two[1].svId, 12);
     }},
    {"NAV-SIG", 0x01, 0x43, // ublox-glo.log, GLONASS only
     "1097A5120007000006020003F0FF210700002900000000000603000CA2FF180300000100000000000604000D00"
     "0015040000010000000000060B0007FBFF23070000290000000000060C0006040026070000290000000000061200"
     "0400001204000001000000000006140009000016040000010000000000",
     120, 0, 4, ReadsAll<SignalInfo>,
     [](const std::vector<std::uint8_t> &p) {
         std::vector<SignalInfo> v;
         ASSERT_EQ(ReadAll(p, v), Result::Ok);
         ASSERT_EQ(v.size(), 7u);
         EXPECT_EQ(v[0].gnssId, 6);
         EXPECT_EQ(v[0].svId, 2);
         EXPECT_EQ(v[0].sigId, 0);
         EXPECT_EQ(v[0].freqId, 3);
         EXPECT_EQ(v[0].cno, 33);
         EXPECT_EQ(v[0].qualityInd, 7);
         EXPECT_TRUE(v[0].prUsed);
         EXPECT_FALSE(v[0].crUsed);
         EXPECT_TRUE(v[0].doUsed);
         EXPECT_EQ(v[0].health, 1);
         EXPECT_EQ(v[1].svId, 3);
         EXPECT_EQ(v[1].freqId, 12);
         EXPECT_EQ(v[1].qualityInd, 3);
         EXPECT_FALSE(v[1].prUsed || v[1].doUsed);
     }},
    {"NAV-SVINFO", 0x01, 0x30, // ublox8-uniqid-monhw.log
     "70C971040C04000002060D051A41550060FCFFFF010C10071EA500000000000004140D0721089E00DEFDFFFF07"
     "160D071F1178005802000003180D041925E100AC09000000190D07261730012E0000000A2004010003370100000"
     "0000685140728219B0000000000098714010022CA0000000000088A14010024A7000000000005500D071D08940"
     "03BFFFFFF0D5504061C04DF0000000000",
     152, 0, -1, ReadsAll<SvinfoChannel>,
     [](const std::vector<std::uint8_t> &p) {
         std::vector<SvinfoChannel> v;
         ASSERT_EQ(ReadAll(p, v), Result::Ok);
         ASSERT_EQ(v.size(), 12u);
         EXPECT_EQ(v[0].svid, 6);
         EXPECT_TRUE(v[0].svUsed);
         EXPECT_EQ(v[0].quality, 5);
         EXPECT_EQ(v[0].cno, 26);
         EXPECT_EQ(v[0].elev, 65);
         EXPECT_EQ(v[0].azim, 85);
         EXPECT_EQ(v[0].health, 1);
         EXPECT_EQ(v[1].svid, 12);
         EXPECT_EQ(v[1].elev, -91);
         EXPECT_EQ(v[1].health, 2);
         EXPECT_EQ(v[10].svid, 80);
         EXPECT_EQ(v[10].azim, 148);
     }},
    {"MON-RF", 0x0A, 0x38, // ublox-zed-f9t-ubx_nmea_l5.log: the jamming indicators gpsd reports
     "00020000000002010000000000000000410032131B0CA9FE9C0000000100020100000000000000002F0074100D"
     "0F990B96000000",
     52, 44, 0, ReadsAll<RfBlock>,
     [](const std::vector<std::uint8_t> &p) {
         std::vector<RfBlock> v;
         ASSERT_EQ(ReadAll(p, v), Result::Ok);
         ASSERT_EQ(v.size(), 2u);
         EXPECT_EQ(v[0].blockId, 0);
         EXPECT_EQ(v[0].jammingState, 0);
         EXPECT_EQ(v[0].antStatus, 2);
         EXPECT_EQ(v[0].antPower, 1);
         EXPECT_EQ(v[0].noisePerMs, 65);
         EXPECT_EQ(v[0].agcCnt, 4914);
         EXPECT_TRUE(v[0].hasJamInd);
         EXPECT_EQ(v[0].jamInd, 27);
         EXPECT_EQ(v[1].blockId, 1);
         EXPECT_EQ(v[1].noisePerMs, 47);
         EXPECT_EQ(v[1].agcCnt, 4212);
         EXPECT_EQ(v[1].jamInd, 13);
     }},
    {"MON-RF", 0x0A, 0x38, // ublox-zed-f9r.log: 20-byte blocks, no flags byte, no jamInd
     "000200000001020F000000000000000045003213139516950101020A0000000000000000270091140DA90BA5", 44,
     0, 0, ReadsAll<RfBlock>,
     [](const std::vector<std::uint8_t> &p) {
         std::vector<RfBlock> v;
         ASSERT_EQ(ReadAll(p, v), Result::Ok);
         ASSERT_EQ(v.size(), 2u);
         EXPECT_EQ(v[0].jammingState, 0);
         EXPECT_EQ(v[0].antStatus, 1);
         EXPECT_EQ(v[0].antPower, 2);
         EXPECT_EQ(v[0].noisePerMs, 69);
         EXPECT_EQ(v[0].agcCnt, 4914);
         EXPECT_FALSE(v[0].hasJamInd);
         EXPECT_EQ(v[0].jamInd, 0);
         EXPECT_EQ(v[1].blockId, 1);
         EXPECT_EQ(v[1].noisePerMs, 39);
         EXPECT_EQ(v[1].agcCnt, 5265);
         EXPECT_FALSE(v[1].hasJamInd);
     }},
    {"MON-VER", 0x0A, 0x04, // ublox8-uniqid-monhw.log, with four extensions
     "524F4D20434F524520332E303120283130373838382900000000000000003030303830303030000046575645"
     "523D53504720332E30310000000000000000000000000000000050524F545645523D31382E303000000000000000"
     "000000000000000000004750533B474C4F3B47414C3B424453000000000000000000000000000000534241533B49"
     "4D45533B515A535300000000000000000000000000000000",
     40, 0, -1, Reads<MonVer>,
     [](const std::vector<std::uint8_t> &p) {
         MonVer v;
         ASSERT_EQ(ReadOne(p, v), Result::Ok);
         EXPECT_STREQ(v.swVersion, "ROM CORE 3.01 (107888)");
         EXPECT_STREQ(v.hwVersion, "00080000");
     }},
    {"ACK-ACK", 0x05, 0x01, "0600", 2, 0, -1, Reads<Ack>, // ublox8-uniqid-monhw.log
     [](const std::vector<std::uint8_t> &p) {
         Ack v;
         ASSERT_EQ(ReadOne(p, v), Result::Ok);
         EXPECT_EQ(v.clsId, 0x06);
         EXPECT_EQ(v.msgId, 0x00);
     }},
    {"ACK-NAK", 0x05, 0x00, "0601", 2, 0, -1, Reads<Ack>, // ublox8-uniqid-monhw.log
     [](const std::vector<std::uint8_t> &p) {
         Ack v;
         ASSERT_EQ(ReadOne(p, v), Result::Ok);
         EXPECT_EQ(v.clsId, 0x06);
         EXPECT_EQ(v.msgId, 0x01);
     }},
};

// Real frames read to the values the receiver sent; each frame cut short is refused, each in a
// buffer of exactly its length so a read past the end shows under AddressSanitizer; a version
// with no layout is refused.
TEST(UbxMessages, RealFramesReadAndCutFramesAreRefused) {
    for (const Row &row : kRows) {
        SCOPED_TRACE(row.name);
        EXPECT_STREQ(MsgName(Identify(row.cls, row.id)), row.name);
        const std::vector<std::uint8_t> payload = Bytes(row.payload);
        row.expect(payload);
        for (std::size_t n = 0; n < row.shortest; ++n) {
            const std::vector<std::uint8_t> cut(payload.begin(),
                                                payload.begin() + static_cast<long>(n));
            EXPECT_EQ(row.read(cut), n != 0 && n == row.alsoReads ? Result::Ok : Result::Short)
                << n << " bytes";
        }
        for (std::size_t n = row.shortest; n <= payload.size(); ++n) {
            const std::vector<std::uint8_t> cut(payload.begin(),
                                                payload.begin() + static_cast<long>(n));
            EXPECT_EQ(row.read(cut), Result::Ok) << n << " bytes";
        }
        if (row.versionAt >= 0) {
            std::vector<std::uint8_t> other = payload;
            other[static_cast<std::size_t>(row.versionAt)] = 0x7F;
            EXPECT_EQ(row.read(other), Result::Version);
        }
    }
    EXPECT_EQ(Identify(0x01, 0x3C), Msg::Unknown);
    EXPECT_STREQ(MsgName(Msg::Unknown), "");
}

} // namespace
