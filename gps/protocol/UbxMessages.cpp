#include "protocol/UbxMessages.h"

#include <array>
#include <span>
#include <type_traits>

namespace ubx {
namespace {

enum class Type : std::uint8_t { U1, I1, U2, I2, U4, I4, X1, X2, X4, C };

constexpr std::size_t Width(Type t) {
    switch (t) {
    case Type::U2:
    case Type::I2:
    case Type::X2:
        return 2;
    case Type::U4:
    case Type::I4:
    case Type::X4:
        return 4;
    default:
        return 1;
    }
}

constexpr std::uint16_t kAbsent = 0xFFFF;

// One field of a layout: offset from the start of the payload (or of its repeated block), and
// for a bit field the bits it takes in its X1/X2/X4. A field a version lacks is kAbsent.
struct Field {
    std::uint8_t index = 0; // the row's own number, checked against its place in the table
    const char *name = "";
    Type type = Type::U1;
    std::uint16_t offset = kAbsent;
    double scale = 1;       // the value times scale: degrees, metres, seconds, m/s
    std::uint8_t bit = 0;   // first bit of a bit field
    std::uint8_t bits = 0;  // 0: the whole field
    std::uint8_t count = 1; // characters of a C field
};

constexpr Field Num(std::uint8_t index, const char *name, Type type, std::uint16_t offset,
                    double scale = 1) {
    return {index, name, type, offset, scale, 0, 0, 1};
}
constexpr Field Bits(std::uint8_t index, const char *name, Type type, std::uint16_t offset,
                     std::uint8_t bit, std::uint8_t bits = 1) {
    return {index, name, type, offset, 1, bit, bits, 1};
}
constexpr Field Text(std::uint8_t index, const char *name, std::uint16_t offset,
                     std::uint8_t count) {
    return {index, name, Type::C, offset, 1, 0, 0, count};
}
constexpr Field Absent(std::uint8_t index, const char *name) {
    return {index, name, Type::U1, kAbsent, 1, 0, 0, 1};
}

constexpr int kNoVersion = -1;

// One message version's layout: the fixed part, and for a message of repeated blocks, where the
// count is, each block's size and the block's fields.
struct Layout {
    int version = kNoVersion;      // the version byte's value, or kNoVersion
    std::size_t versionOffset = 0; // where the version byte is
    std::size_t length = 0;        // the fixed part's bytes (the blocks follow it)
    std::span<const Field> fields;
    std::size_t countOffset = 0;
    std::size_t blockSize = 0; // 0: no repeated blocks
    std::span<const Field> block = {};
    bool exact = false; // the payload ends with its last block (tells a variant from a cut frame)
};

constexpr bool Fits(std::span<const Field> fields, std::size_t length) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const Field &f = fields[i];
        if (f.index != i)
            return false;
        if (f.offset == kAbsent)
            continue;
        if (f.count == 0 || f.offset + Width(f.type) * f.count > length)
            return false;
        if (f.bits != 0 && (f.type == Type::C || f.bit + f.bits > 8 * Width(f.type)))
            return false;
    }
    return true;
}

// Every field inside its layout's length, the version and count bytes too.
constexpr bool Fits(const Layout &l) {
    return Fits(l.fields, l.length) && Fits(l.block, l.blockSize) &&
           (l.version == kNoVersion || l.versionOffset < l.length) &&
           (l.blockSize == 0 || l.countOffset < l.length);
}

template <std::size_t N> constexpr bool AllFit(const std::array<Layout, N> &layouts) {
    for (const Layout &l : layouts)
        if (!Fits(l))
            return false;
    return true;
}

// The one reader: a field of a layout read little-endian from a payload, never past its end.
class View {
public:
    View(const std::uint8_t *payload, std::size_t len, std::span<const Field> fields,
         std::size_t base = 0)
        : m_p(payload), m_len(len), m_fields(fields), m_base(base) {}

    bool Has(std::size_t i) const { return i < m_fields.size() && m_fields[i].offset != kAbsent; }

    std::int64_t Get(std::size_t i) const {
        if (!Has(i))
            return 0;
        const Field &f = m_fields[i];
        const std::size_t at = m_base + f.offset, width = Width(f.type);
        if (at > m_len || width > m_len - at)
            return 0;
        std::uint64_t v = 0;
        for (std::size_t k = 0; k < width; ++k)
            v |= std::uint64_t{m_p[at + k]} << (8 * k);
        if (f.bits != 0)
            return static_cast<std::int64_t>((v >> f.bit) & ((std::uint64_t{1} << f.bits) - 1));
        switch (f.type) {
        case Type::I1:
            return static_cast<std::int8_t>(v);
        case Type::I2:
            return static_cast<std::int16_t>(v);
        case Type::I4:
            return static_cast<std::int32_t>(v);
        default:
            return static_cast<std::int64_t>(v);
        }
    }

    template <class T> void To(T &member, std::size_t i) const {
        if constexpr (std::is_same_v<T, bool>)
            member = Get(i) != 0;
        else
            member = static_cast<T>(Get(i));
    }

    // A C field up to its first zero, always terminated; room is the destination's size.
    void ToText(char *out, std::size_t room, std::size_t i) const {
        std::size_t n = 0;
        if (Has(i) && room > 0) {
            const Field &f = m_fields[i];
            const std::size_t at = m_base + f.offset;
            for (; n + 1 < room && n < f.count && at + n < m_len && m_p[at + n] != 0; ++n)
                out[n] = static_cast<char>(m_p[at + n]);
        }
        if (room > 0)
            out[n] = '\0';
    }

private:
    const std::uint8_t *m_p;
    std::size_t m_len;
    std::span<const Field> m_fields;
    std::size_t m_base;
};

struct Selected {
    const Layout *layout = nullptr;
    std::size_t count = 0; // repeated blocks the payload holds
};

// The first of a message's layouts whose version matches and whose length (with its own count of
// blocks) the payload holds.
Result Select(const std::uint8_t *payload, std::size_t len, std::span<const Layout> layouts,
              Selected &sel) {
    if (payload == nullptr)
        len = 0;
    bool versionKnown = false;
    for (const Layout &l : layouts) {
        if (l.version != kNoVersion) {
            if (len <= l.versionOffset)
                return Result::Short;
            if (payload[l.versionOffset] != l.version)
                continue;
        }
        versionKnown = true;
        if (len < l.length)
            continue;
        const std::size_t count = l.blockSize != 0 ? payload[l.countOffset] : 0;
        if (count * l.blockSize > len - l.length ||
            (l.exact && count * l.blockSize != len - l.length))
            continue;
        sel.layout = &l;
        sel.count = count;
        return Result::Ok;
    }
    return versionKnown ? Result::Short : Result::Version;
}

template <class T, class Assign>
Result ReadOne(const std::uint8_t *payload, std::size_t len, std::span<const Layout> layouts,
               T &out, Assign assign) {
    Selected sel;
    const Result r = Select(payload, len, layouts, sel);
    if (r != Result::Ok)
        return r;
    T staged{};
    assign(View(payload, len, sel.layout->fields), staged);
    out = staged;
    return Result::Ok;
}

template <class T, class Assign>
Result ReadBlocks(const std::uint8_t *payload, std::size_t len, std::span<const Layout> layouts,
                  T *out, std::size_t room, std::size_t &n, Assign assign) {
    n = 0;
    Selected sel;
    const Result r = Select(payload, len, layouts, sel);
    if (r != Result::Ok)
        return r;
    const Layout &l = *sel.layout;
    const std::size_t fit = out == nullptr ? 0 : (sel.count < room ? sel.count : room);
    for (std::size_t i = 0; i < fit; ++i) {
        T staged{};
        assign(View(payload, len, l.block, l.length + i * l.blockSize), staged);
        out[i] = staged;
    }
    n = fit;
    return Result::Ok;
}

using enum Type;

// NAV-PVT, 92 bytes (u-blox 8 and later; firmware older than flags3 sends those bytes as zero).
namespace pvt {
enum : std::uint8_t {
    ITow,
    Year,
    Month,
    Day,
    Hour,
    Min,
    Sec,
    ValidDate,
    ValidTime,
    FullyResolved,
    FixType,
    GnssFixOk,
    DiffSoln,
    CarrSoln,
    NumSv,
    Lon,
    Lat,
    Height,
    HMsl,
    HAcc,
    VAcc,
    GSpeed,
    HeadMot,
    SAcc,
    PDop,
    InvalidLlh,
    LastCorrectionAge,
    Count
};
constexpr Field kFields[] = {
    Num(ITow, "iTOW", U4, 0, 1e-3),
    Num(Year, "year", U2, 4),
    Num(Month, "month", U1, 6),
    Num(Day, "day", U1, 7),
    Num(Hour, "hour", U1, 8),
    Num(Min, "min", U1, 9),
    Num(Sec, "sec", U1, 10),
    Bits(ValidDate, "valid.validDate", X1, 11, 0),
    Bits(ValidTime, "valid.validTime", X1, 11, 1),
    Bits(FullyResolved, "valid.fullyResolved", X1, 11, 2),
    Num(FixType, "fixType", U1, 20),
    Bits(GnssFixOk, "flags.gnssFixOK", X1, 21, 0),
    Bits(DiffSoln, "flags.diffSoln", X1, 21, 1),
    Bits(CarrSoln, "flags.carrSoln", X1, 21, 6, 2),
    Num(NumSv, "numSV", U1, 23),
    Num(Lon, "lon", I4, 24, 1e-7),
    Num(Lat, "lat", I4, 28, 1e-7),
    Num(Height, "height", I4, 32, 1e-3),
    Num(HMsl, "hMSL", I4, 36, 1e-3),
    Num(HAcc, "hAcc", U4, 40, 1e-3),
    Num(VAcc, "vAcc", U4, 44, 1e-3),
    Num(GSpeed, "gSpeed", I4, 60, 1e-3),
    Num(HeadMot, "headMot", I4, 64, 1e-5),
    Num(SAcc, "sAcc", U4, 68, 1e-3),
    Num(PDop, "pDOP", U2, 76, 0.01),
    Bits(InvalidLlh, "flags3.invalidLlh", X2, 78, 0),
    Bits(LastCorrectionAge, "flags3.lastCorrectionAge", X2, 78, 1, 4),
};
static_assert(std::size(kFields) == Count);
constexpr std::array kLayouts{Layout{kNoVersion, 0, 92, kFields}};
static_assert(AllFit(kLayouts));
} // namespace pvt

// NAV-HPPOSLLH version 0, 36 bytes.
namespace hpposllh {
enum : std::uint8_t {
    ITow,
    InvalidLlh,
    Lon,
    Lat,
    Height,
    HMsl,
    LonHp,
    LatHp,
    HeightHp,
    HMslHp,
    HAcc,
    VAcc,
    Count
};
constexpr Field kFields[] = {
    Num(ITow, "iTOW", U4, 4, 1e-3),
    Bits(InvalidLlh, "flags.invalidLlh", X1, 3, 0),
    Num(Lon, "lon", I4, 8, 1e-7),
    Num(Lat, "lat", I4, 12, 1e-7),
    Num(Height, "height", I4, 16, 1e-3),
    Num(HMsl, "hMSL", I4, 20, 1e-3),
    Num(LonHp, "lonHp", I1, 24, 1e-9),
    Num(LatHp, "latHp", I1, 25, 1e-9),
    Num(HeightHp, "heightHp", I1, 26, 1e-4),
    Num(HMslHp, "hMSLHp", I1, 27, 1e-4),
    Num(HAcc, "hAcc", U4, 28, 1e-4),
    Num(VAcc, "vAcc", U4, 32, 1e-4),
};
static_assert(std::size(kFields) == Count);
constexpr std::array kLayouts{Layout{0, 0, 36, kFields}};
static_assert(AllFit(kLayouts));
} // namespace hpposllh

// NAV-DOP, 18 bytes.
namespace dop {
enum : std::uint8_t { ITow, GDop, PDop, TDop, VDop, HDop, NDop, EDop, Count };
constexpr Field kFields[] = {
    Num(ITow, "iTOW", U4, 0, 1e-3),  Num(GDop, "gDOP", U2, 4, 0.01),
    Num(PDop, "pDOP", U2, 6, 0.01),  Num(TDop, "tDOP", U2, 8, 0.01),
    Num(VDop, "vDOP", U2, 10, 0.01), Num(HDop, "hDOP", U2, 12, 0.01),
    Num(NDop, "nDOP", U2, 14, 0.01), Num(EDop, "eDOP", U2, 16, 0.01),
};
static_assert(std::size(kFields) == Count);
constexpr std::array kLayouts{Layout{kNoVersion, 0, 18, kFields}};
static_assert(AllFit(kLayouts));
} // namespace dop

// NAV-STATUS, 16 bytes (flags2's carrSoln and spoofDetState read zero where not sent).
namespace status {
enum : std::uint8_t {
    ITow,
    GpsFix,
    GpsFixOk,
    DiffSoln,
    SpoofDetState,
    CarrSoln,
    Ttff,
    Msss,
    Count
};
constexpr Field kFields[] = {
    Num(ITow, "iTOW", U4, 0, 1e-3),
    Num(GpsFix, "gpsFix", U1, 4),
    Bits(GpsFixOk, "flags.gpsFixOk", X1, 5, 0),
    Bits(DiffSoln, "flags.diffSoln", X1, 5, 1),
    Bits(SpoofDetState, "flags2.spoofDetState", X1, 7, 3, 2),
    Bits(CarrSoln, "flags2.carrSoln", X1, 7, 6, 2),
    Num(Ttff, "ttff", U4, 8, 1e-3),
    Num(Msss, "msss", U4, 12, 1e-3),
};
static_assert(std::size(kFields) == Count);
constexpr std::array kLayouts{Layout{kNoVersion, 0, 16, kFields}};
static_assert(AllFit(kLayouts));
} // namespace status

// NAV-TIMEUTC, 20 bytes.
namespace timeutc {
enum : std::uint8_t {
    ITow,
    TAcc,
    Nano,
    Year,
    Month,
    Day,
    Hour,
    Min,
    Sec,
    ValidTow,
    ValidWkn,
    ValidUtc,
    Count
};
constexpr Field kFields[] = {
    Num(ITow, "iTOW", U4, 0, 1e-3),
    Num(TAcc, "tAcc", U4, 4, 1e-9),
    Num(Nano, "nano", I4, 8, 1e-9),
    Num(Year, "year", U2, 12),
    Num(Month, "month", U1, 14),
    Num(Day, "day", U1, 15),
    Num(Hour, "hour", U1, 16),
    Num(Min, "min", U1, 17),
    Num(Sec, "sec", U1, 18),
    Bits(ValidTow, "valid.validTOW", X1, 19, 0),
    Bits(ValidWkn, "valid.validWKN", X1, 19, 1),
    Bits(ValidUtc, "valid.validUTC", X1, 19, 2),
};
static_assert(std::size(kFields) == Count);
constexpr std::array kLayouts{Layout{kNoVersion, 0, 20, kFields}};
static_assert(AllFit(kLayouts));
} // namespace timeutc

// NAV-SOL, 52 bytes.
namespace sol {
enum : std::uint8_t {
    ITow,
    GpsFix,
    GpsFixOk,
    DiffSoln,
    WknSet,
    TowSet,
    EcefX,
    EcefY,
    EcefZ,
    PAcc,
    EcefVx,
    EcefVy,
    EcefVz,
    SAcc,
    PDop,
    NumSv,
    Count
};
constexpr Field kFields[] = {
    Num(ITow, "iTOW", U4, 0, 1e-3),
    Num(GpsFix, "gpsFix", U1, 10),
    Bits(GpsFixOk, "flags.gpsFixOk", X1, 11, 0),
    Bits(DiffSoln, "flags.diffSoln", X1, 11, 1),
    Bits(WknSet, "flags.wknSet", X1, 11, 2),
    Bits(TowSet, "flags.towSet", X1, 11, 3),
    Num(EcefX, "ecefX", I4, 12, 0.01),
    Num(EcefY, "ecefY", I4, 16, 0.01),
    Num(EcefZ, "ecefZ", I4, 20, 0.01),
    Num(PAcc, "pAcc", U4, 24, 0.01),
    Num(EcefVx, "ecefVX", I4, 28, 0.01),
    Num(EcefVy, "ecefVY", I4, 32, 0.01),
    Num(EcefVz, "ecefVZ", I4, 36, 0.01),
    Num(SAcc, "sAcc", U4, 40, 0.01),
    Num(PDop, "pDOP", U2, 44, 0.01),
    Num(NumSv, "numSV", U1, 47),
};
static_assert(std::size(kFields) == Count);
constexpr std::array kLayouts{Layout{kNoVersion, 0, 52, kFields}};
static_assert(AllFit(kLayouts));
} // namespace sol

// NAV-POSLLH, 28 bytes.
namespace posllh {
enum : std::uint8_t { ITow, Lon, Lat, Height, HMsl, HAcc, VAcc, Count };
constexpr Field kFields[] = {
    Num(ITow, "iTOW", U4, 0, 1e-3),  Num(Lon, "lon", I4, 4, 1e-7),
    Num(Lat, "lat", I4, 8, 1e-7),    Num(Height, "height", I4, 12, 1e-3),
    Num(HMsl, "hMSL", I4, 16, 1e-3), Num(HAcc, "hAcc", U4, 20, 1e-3),
    Num(VAcc, "vAcc", U4, 24, 1e-3),
};
static_assert(std::size(kFields) == Count);
constexpr std::array kLayouts{Layout{kNoVersion, 0, 28, kFields}};
static_assert(AllFit(kLayouts));
} // namespace posllh

// NAV-VELNED, 36 bytes.
namespace velned {
enum : std::uint8_t { ITow, GSpeed, Heading, SAcc, Count };
constexpr Field kFields[] = {
    Num(ITow, "iTOW", U4, 0, 1e-3),
    Num(GSpeed, "gSpeed", U4, 20, 0.01),
    Num(Heading, "heading", I4, 24, 1e-5),
    Num(SAcc, "sAcc", U4, 28, 0.01),
};
static_assert(std::size(kFields) == Count);
constexpr std::array kLayouts{Layout{kNoVersion, 0, 36, kFields}};
static_assert(AllFit(kLayouts));
} // namespace velned

// NAV-SAT version 1: 8 bytes, then numSvs blocks of 12.
namespace sat {
enum : std::uint8_t { ITow, Version, NumSvs, HeadCount };
constexpr Field kHead[] = {
    Num(ITow, "iTOW", U4, 0, 1e-3),
    Num(Version, "version", U1, 4),
    Num(NumSvs, "numSvs", U1, 5),
};
static_assert(std::size(kHead) == HeadCount);
enum : std::uint8_t { GnssId, SvId, Cno, Elev, Azim, QualityInd, SvUsed, Health, BlockCount };
constexpr Field kBlock[] = {
    Num(GnssId, "gnssId", U1, 0),
    Num(SvId, "svId", U1, 1),
    Num(Cno, "cno", U1, 2),
    Num(Elev, "elev", I1, 3),
    Num(Azim, "azim", I2, 4),
    Bits(QualityInd, "flags.qualityInd", X4, 8, 0, 3),
    Bits(SvUsed, "flags.svUsed", X4, 8, 3),
    Bits(Health, "flags.health", X4, 8, 4, 2),
};
static_assert(std::size(kBlock) == BlockCount);
constexpr std::array kLayouts{Layout{1, 4, 8, kHead, 5, 12, kBlock}};
static_assert(AllFit(kLayouts));
} // namespace sat

// NAV-SIG version 0: 8 bytes, then numSigs blocks of 16.
namespace sig {
enum : std::uint8_t { ITow, Version, NumSigs, HeadCount };
constexpr Field kHead[] = {
    Num(ITow, "iTOW", U4, 0, 1e-3),
    Num(Version, "version", U1, 4),
    Num(NumSigs, "numSigs", U1, 5),
};
static_assert(std::size(kHead) == HeadCount);
enum : std::uint8_t {
    GnssId,
    SvId,
    SigId,
    FreqId,
    Cno,
    QualityInd,
    Health,
    PrUsed,
    CrUsed,
    DoUsed,
    BlockCount
};
constexpr Field kBlock[] = {
    Num(GnssId, "gnssId", U1, 0),
    Num(SvId, "svId", U1, 1),
    Num(SigId, "sigId", U1, 2),
    Num(FreqId, "freqId", U1, 3),
    Num(Cno, "cno", U1, 6),
    Num(QualityInd, "qualityInd", U1, 7),
    Bits(Health, "sigFlags.health", X2, 10, 0, 2),
    Bits(PrUsed, "sigFlags.prUsed", X2, 10, 3),
    Bits(CrUsed, "sigFlags.crUsed", X2, 10, 4),
    Bits(DoUsed, "sigFlags.doUsed", X2, 10, 5),
};
static_assert(std::size(kBlock) == BlockCount);
constexpr std::array kLayouts{Layout{0, 4, 8, kHead, 5, 16, kBlock}};
static_assert(AllFit(kLayouts));
} // namespace sig

// NAV-SVINFO (no version byte): 8 bytes, then numCh channels of 12.
namespace svinfo {
enum : std::uint8_t { ITow, NumCh, GlobalFlags, HeadCount };
constexpr Field kHead[] = {
    Num(ITow, "iTOW", U4, 0, 1e-3),
    Num(NumCh, "numCh", U1, 4),
    Num(GlobalFlags, "globalFlags", X1, 5),
};
static_assert(std::size(kHead) == HeadCount);
enum : std::uint8_t { Chn, Svid, SvUsed, Unhealthy, Quality, Cno, Elev, Azim, BlockCount };
constexpr Field kBlock[] = {
    Num(Chn, "chn", U1, 0),
    Num(Svid, "svid", U1, 1),
    Bits(SvUsed, "flags.svUsed", X1, 2, 0),
    Bits(Unhealthy, "flags.unhealthy", X1, 2, 4),
    Bits(Quality, "quality.qualityInd", X1, 3, 0, 4),
    Num(Cno, "cno", U1, 4),
    Num(Elev, "elev", I1, 5),
    Num(Azim, "azim", I2, 6),
};
static_assert(std::size(kBlock) == BlockCount);
constexpr std::array kLayouts{Layout{kNoVersion, 0, 8, kHead, 4, 12, kBlock}};
static_assert(AllFit(kLayouts));
} // namespace svinfo

// MON-RF version 0: 4 bytes, then nBlocks blocks of 24; ZED-F9R HPS 1.30 (protocol 33.30) sends
// exactly nBlocks blocks of 20, without the flags byte (so no jamming state) and without jamInd.
namespace rf {
enum : std::uint8_t { Version, NBlocks, HeadCount };
constexpr Field kHead[] = {
    Num(Version, "version", U1, 0),
    Num(NBlocks, "nBlocks", U1, 1),
};
static_assert(std::size(kHead) == HeadCount);
enum : std::uint8_t {
    BlockId,
    JammingState,
    AntStatus,
    AntPower,
    NoisePerMs,
    AgcCnt,
    JamInd,
    BlockCount
};
constexpr Field kBlock[] = {
    Num(BlockId, "blockId", U1, 0),        Bits(JammingState, "flags.jammingState", X1, 1, 0, 2),
    Num(AntStatus, "antStatus", U1, 2),    Num(AntPower, "antPower", U1, 3),
    Num(NoisePerMs, "noisePerMS", U2, 12), Num(AgcCnt, "agcCnt", U2, 14),
    Num(JamInd, "jamInd", U1, 16),
};
static_assert(std::size(kBlock) == BlockCount);
constexpr Field kCompactBlock[] = {
    Num(BlockId, "blockId", U1, 0),
    Absent(JammingState, "flags.jammingState"),
    Num(AntStatus, "antStatus", U1, 1),
    Num(AntPower, "antPower", U1, 2),
    Num(NoisePerMs, "noisePerMS", U2, 12),
    Num(AgcCnt, "agcCnt", U2, 14),
    Absent(JamInd, "jamInd"),
};
static_assert(std::size(kCompactBlock) == BlockCount);
constexpr std::array kLayouts{
    Layout{0, 0, 4, kHead, 1, 24, kBlock},
    Layout{0, 0, 4, kHead, 1, 20, kCompactBlock, true},
};
static_assert(AllFit(kLayouts));
} // namespace rf

// MON-HW: 60 bytes on u-blox 8 (17 VP bytes), 68 on u-blox 6 (25 VP bytes); jamInd follows the
// VP bytes, so the length tells where it is.
namespace monhw {
enum : std::uint8_t { NoisePerMs, AgcCnt, AStatus, APower, JammingState, JamInd, Count };
constexpr Field kFields8[] = {
    Num(NoisePerMs, "noisePerMS", U2, 16),
    Num(AgcCnt, "agcCnt", U2, 18),
    Num(AStatus, "aStatus", U1, 20),
    Num(APower, "aPower", U1, 21),
    Bits(JammingState, "flags.jammingState", X1, 22, 2, 2),
    Num(JamInd, "jamInd", U1, 45),
};
static_assert(std::size(kFields8) == Count);
constexpr Field kFields6[] = {
    Num(NoisePerMs, "noisePerMS", U2, 16),
    Num(AgcCnt, "agcCnt", U2, 18),
    Num(AStatus, "aStatus", U1, 20),
    Num(APower, "aPower", U1, 21),
    Bits(JammingState, "flags.jammingState", X1, 22, 2, 2),
    Num(JamInd, "jamInd", U1, 53),
};
static_assert(std::size(kFields6) == Count);
constexpr std::array kLayouts{
    Layout{kNoVersion, 0, 68, kFields6},
    Layout{kNoVersion, 0, 60, kFields8},
};
static_assert(AllFit(kLayouts));
} // namespace monhw

// SEC-SIG version 1 (12 bytes, a flags byte each for jamming and spoofing) and version 2 (4 bytes,
// one flags byte, then jamNumCentFreqs words of 4 not read here).
namespace secsig {
enum : std::uint8_t { JamDetEnabled, JammingState, SpfDetEnabled, SpoofingState, Count };
constexpr Field kFields1[] = {
    Bits(JamDetEnabled, "jamFlags.jamDetEnabled", X1, 4, 0),
    Bits(JammingState, "jamFlags.jammingState", X1, 4, 1, 2),
    Bits(SpfDetEnabled, "spfFlags.spfDetEnabled", X1, 8, 0),
    Bits(SpoofingState, "spfFlags.spoofingState", X1, 8, 1, 3),
};
static_assert(std::size(kFields1) == Count);
constexpr Field kFields2[] = {
    Bits(JamDetEnabled, "sigSecFlags.jamDetEnabled", X1, 1, 0),
    Bits(JammingState, "sigSecFlags.jammingState", X1, 1, 1, 2),
    Bits(SpfDetEnabled, "sigSecFlags.spfDetEnabled", X1, 1, 3),
    Bits(SpoofingState, "sigSecFlags.spoofingState", X1, 1, 4, 3),
};
static_assert(std::size(kFields2) == Count);
constexpr std::array kLayouts{
    Layout{1, 0, 12, kFields1},
    Layout{2, 0, 4, kFields2, 3, 4, {}},
};
static_assert(AllFit(kLayouts));
} // namespace secsig

// ACK-ACK and ACK-NAK, 2 bytes.
namespace ack {
enum : std::uint8_t { ClsId, MsgId, Count };
constexpr Field kFields[] = {Num(ClsId, "clsID", U1, 0), Num(MsgId, "msgID", U1, 1)};
static_assert(std::size(kFields) == Count);
constexpr std::array kLayouts{Layout{kNoVersion, 0, 2, kFields}};
static_assert(AllFit(kLayouts));
} // namespace ack

// MON-VER: 40 bytes, then extensions of 30 (not read).
namespace monver {
enum : std::uint8_t { SwVersion, HwVersion, Count };
constexpr Field kFields[] = {
    Text(SwVersion, "swVersion", 0, 30),
    Text(HwVersion, "hwVersion", 30, 10),
};
static_assert(std::size(kFields) == Count);
constexpr std::array kLayouts{Layout{kNoVersion, 0, 40, kFields}};
static_assert(AllFit(kLayouts));
} // namespace monver

// RXM-RTCM version 2, 8 bytes.
namespace rxmrtcm {
enum : std::uint8_t { CrcFailed, MsgUsed, SubType, RefStation, MsgType, Count };
constexpr Field kFields[] = {
    Bits(CrcFailed, "flags.crcFailed", X1, 1, 0),
    Bits(MsgUsed, "flags.msgUsed", X1, 1, 1, 2),
    Num(SubType, "subType", U2, 2),
    Num(RefStation, "refStation", U2, 4),
    Num(MsgType, "msgType", U2, 6),
};
static_assert(std::size(kFields) == Count);
constexpr std::array kLayouts{Layout{2, 0, 8, kFields}};
static_assert(AllFit(kLayouts));
} // namespace rxmrtcm

struct MsgEntry {
    Msg msg;
    std::uint8_t cls, id;
    const char *name;
};
constexpr MsgEntry kMsgIds[] = {
    {Msg::NavPvt, 0x01, 0x07, "NAV-PVT"},         {Msg::NavSat, 0x01, 0x35, "NAV-SAT"},
    {Msg::NavSig, 0x01, 0x43, "NAV-SIG"},         {Msg::NavDop, 0x01, 0x04, "NAV-DOP"},
    {Msg::NavStatus, 0x01, 0x03, "NAV-STATUS"},   {Msg::NavHpposllh, 0x01, 0x14, "NAV-HPPOSLLH"},
    {Msg::NavTimeutc, 0x01, 0x21, "NAV-TIMEUTC"}, {Msg::NavSol, 0x01, 0x06, "NAV-SOL"},
    {Msg::NavPosllh, 0x01, 0x02, "NAV-POSLLH"},   {Msg::NavVelned, 0x01, 0x12, "NAV-VELNED"},
    {Msg::NavSvinfo, 0x01, 0x30, "NAV-SVINFO"},   {Msg::MonRf, 0x0A, 0x38, "MON-RF"},
    {Msg::MonHw, 0x0A, 0x09, "MON-HW"},           {Msg::SecSig, 0x27, 0x09, "SEC-SIG"},
    {Msg::MonVer, 0x0A, 0x04, "MON-VER"},         {Msg::AckAck, 0x05, 0x01, "ACK-ACK"},
    {Msg::AckNak, 0x05, 0x00, "ACK-NAK"},         {Msg::RxmRtcm, 0x02, 0x32, "RXM-RTCM"},
};

} // namespace

Msg Identify(std::uint8_t cls, std::uint8_t id) {
    // Asked of every frame by the decoder and each of its listeners: a table made once, a row
    // per class that has messages, rather than a walk through the list (made while compiling:
    // a ninth class would not compile).
    struct Table {
        std::uint8_t row[256]{}; // 0: a class without messages we read
        Msg msgs[8][256]{};
    };
    static constexpr Table table = [] {
        Table t;
        std::uint8_t rows = 0;
        for (const MsgEntry &m : kMsgIds) {
            if (t.row[m.cls] == 0)
                t.row[m.cls] = ++rows;
            t.msgs[t.row[m.cls] - 1][m.id] = m.msg;
        }
        return t;
    }();
    const std::uint8_t row = table.row[cls];
    return row == 0 ? Msg::Unknown : table.msgs[row - 1][id];
}

const char *MsgName(Msg msg) {
    for (const MsgEntry &m : kMsgIds)
        if (m.msg == msg)
            return m.name;
    return "";
}

Result Read(const std::uint8_t *payload, std::size_t len, NavPvt &out) {
    using namespace pvt;
    return ReadOne(payload, len, kLayouts, out, [](const View &v, NavPvt &o) {
        v.To(o.iTow, ITow);
        v.To(o.year, Year);
        v.To(o.month, Month);
        v.To(o.day, Day);
        v.To(o.hour, Hour);
        v.To(o.min, Min);
        v.To(o.sec, Sec);
        v.To(o.validDate, ValidDate);
        v.To(o.validTime, ValidTime);
        v.To(o.fullyResolved, FullyResolved);
        v.To(o.fixType, FixType);
        v.To(o.gnssFixOk, GnssFixOk);
        v.To(o.diffSoln, DiffSoln);
        v.To(o.carrSoln, CarrSoln);
        v.To(o.numSv, NumSv);
        v.To(o.lon, Lon);
        v.To(o.lat, Lat);
        v.To(o.height, Height);
        v.To(o.hMsl, HMsl);
        v.To(o.hAcc, HAcc);
        v.To(o.vAcc, VAcc);
        v.To(o.gSpeed, GSpeed);
        v.To(o.headMot, HeadMot);
        v.To(o.sAcc, SAcc);
        v.To(o.pDop, PDop);
        v.To(o.invalidLlh, InvalidLlh);
        v.To(o.lastCorrectionAge, LastCorrectionAge);
    });
}

Result Read(const std::uint8_t *payload, std::size_t len, NavHpposllh &out) {
    using namespace hpposllh;
    return ReadOne(payload, len, kLayouts, out, [](const View &v, NavHpposllh &o) {
        v.To(o.iTow, ITow);
        v.To(o.invalidLlh, InvalidLlh);
        v.To(o.lon, Lon);
        v.To(o.lat, Lat);
        v.To(o.height, Height);
        v.To(o.hMsl, HMsl);
        v.To(o.lonHp, LonHp);
        v.To(o.latHp, LatHp);
        v.To(o.heightHp, HeightHp);
        v.To(o.hMslHp, HMslHp);
        v.To(o.hAcc, HAcc);
        v.To(o.vAcc, VAcc);
    });
}

Result Read(const std::uint8_t *payload, std::size_t len, NavDop &out) {
    using namespace dop;
    return ReadOne(payload, len, kLayouts, out, [](const View &v, NavDop &o) {
        v.To(o.iTow, ITow);
        v.To(o.gDop, GDop);
        v.To(o.pDop, PDop);
        v.To(o.tDop, TDop);
        v.To(o.vDop, VDop);
        v.To(o.hDop, HDop);
        v.To(o.nDop, NDop);
        v.To(o.eDop, EDop);
    });
}

Result Read(const std::uint8_t *payload, std::size_t len, NavStatus &out) {
    using namespace status;
    return ReadOne(payload, len, kLayouts, out, [](const View &v, NavStatus &o) {
        v.To(o.iTow, ITow);
        v.To(o.gpsFix, GpsFix);
        v.To(o.gpsFixOk, GpsFixOk);
        v.To(o.diffSoln, DiffSoln);
        v.To(o.carrSoln, CarrSoln);
        v.To(o.spoofDetState, SpoofDetState);
        v.To(o.ttff, Ttff);
        v.To(o.msss, Msss);
    });
}

Result Read(const std::uint8_t *payload, std::size_t len, NavTimeutc &out) {
    using namespace timeutc;
    return ReadOne(payload, len, kLayouts, out, [](const View &v, NavTimeutc &o) {
        v.To(o.iTow, ITow);
        v.To(o.tAcc, TAcc);
        v.To(o.nano, Nano);
        v.To(o.year, Year);
        v.To(o.month, Month);
        v.To(o.day, Day);
        v.To(o.hour, Hour);
        v.To(o.min, Min);
        v.To(o.sec, Sec);
        v.To(o.validTow, ValidTow);
        v.To(o.validWkn, ValidWkn);
        v.To(o.validUtc, ValidUtc);
    });
}

Result Read(const std::uint8_t *payload, std::size_t len, NavSol &out) {
    using namespace sol;
    return ReadOne(payload, len, kLayouts, out, [](const View &v, NavSol &o) {
        v.To(o.iTow, ITow);
        v.To(o.gpsFix, GpsFix);
        v.To(o.gpsFixOk, GpsFixOk);
        v.To(o.diffSoln, DiffSoln);
        v.To(o.wknSet, WknSet);
        v.To(o.towSet, TowSet);
        v.To(o.ecefX, EcefX);
        v.To(o.ecefY, EcefY);
        v.To(o.ecefZ, EcefZ);
        v.To(o.pAcc, PAcc);
        v.To(o.ecefVx, EcefVx);
        v.To(o.ecefVy, EcefVy);
        v.To(o.ecefVz, EcefVz);
        v.To(o.sAcc, SAcc);
        v.To(o.pDop, PDop);
        v.To(o.numSv, NumSv);
    });
}

Result Read(const std::uint8_t *payload, std::size_t len, NavPosllh &out) {
    using namespace posllh;
    return ReadOne(payload, len, kLayouts, out, [](const View &v, NavPosllh &o) {
        v.To(o.iTow, ITow);
        v.To(o.lon, Lon);
        v.To(o.lat, Lat);
        v.To(o.height, Height);
        v.To(o.hMsl, HMsl);
        v.To(o.hAcc, HAcc);
        v.To(o.vAcc, VAcc);
    });
}

Result Read(const std::uint8_t *payload, std::size_t len, NavVelned &out) {
    using namespace velned;
    return ReadOne(payload, len, kLayouts, out, [](const View &v, NavVelned &o) {
        v.To(o.iTow, ITow);
        v.To(o.gSpeed, GSpeed);
        v.To(o.heading, Heading);
        v.To(o.sAcc, SAcc);
    });
}

Result Read(const std::uint8_t *payload, std::size_t len, MonHw &out) {
    using namespace monhw;
    return ReadOne(payload, len, kLayouts, out, [](const View &v, MonHw &o) {
        v.To(o.noisePerMs, NoisePerMs);
        v.To(o.agcCnt, AgcCnt);
        v.To(o.aStatus, AStatus);
        v.To(o.aPower, APower);
        v.To(o.jammingState, JammingState);
        v.To(o.jamInd, JamInd);
    });
}

Result Read(const std::uint8_t *payload, std::size_t len, SecSig &out) {
    using namespace secsig;
    return ReadOne(payload, len, kLayouts, out, [](const View &v, SecSig &o) {
        v.To(o.jamDetEnabled, JamDetEnabled);
        v.To(o.jammingState, JammingState);
        v.To(o.spfDetEnabled, SpfDetEnabled);
        v.To(o.spoofingState, SpoofingState);
    });
}

Result Read(const std::uint8_t *payload, std::size_t len, Ack &out) {
    using namespace ack;
    return ReadOne(payload, len, kLayouts, out, [](const View &v, Ack &o) {
        v.To(o.clsId, ClsId);
        v.To(o.msgId, MsgId);
    });
}

Result Read(const std::uint8_t *payload, std::size_t len, MonVer &out) {
    using namespace monver;
    return ReadOne(payload, len, kLayouts, out, [](const View &v, MonVer &o) {
        v.ToText(o.swVersion, sizeof o.swVersion, SwVersion);
        v.ToText(o.hwVersion, sizeof o.hwVersion, HwVersion);
    });
}

Result Read(const std::uint8_t *payload, std::size_t len, RxmRtcm &out) {
    using namespace rxmrtcm;
    return ReadOne(payload, len, kLayouts, out, [](const View &v, RxmRtcm &o) {
        v.To(o.crcFailed, CrcFailed);
        v.To(o.msgUsed, MsgUsed);
        v.To(o.subType, SubType);
        v.To(o.refStation, RefStation);
        v.To(o.msgType, MsgType);
    });
}

Result Read(const std::uint8_t *payload, std::size_t len, SvInfo *out, std::size_t room,
            std::size_t &n) {
    using namespace sat;
    return ReadBlocks(payload, len, kLayouts, out, room, n, [](const View &v, SvInfo &o) {
        v.To(o.gnssId, GnssId);
        v.To(o.svId, SvId);
        v.To(o.cno, Cno);
        v.To(o.elev, Elev);
        v.To(o.azim, Azim);
        // -91 in elevation is what receivers send for a satellite whose position they lack.
        o.elevAzimKnown = o.elev >= -90 && o.elev <= 90 && o.azim >= 0 && o.azim <= 360;
        v.To(o.qualityInd, QualityInd);
        v.To(o.svUsed, SvUsed);
        v.To(o.health, Health);
    });
}

Result Read(const std::uint8_t *payload, std::size_t len, SignalInfo *out, std::size_t room,
            std::size_t &n) {
    using namespace sig;
    return ReadBlocks(payload, len, kLayouts, out, room, n, [](const View &v, SignalInfo &o) {
        v.To(o.gnssId, GnssId);
        v.To(o.svId, SvId);
        v.To(o.sigId, SigId);
        v.To(o.freqId, FreqId);
        v.To(o.cno, Cno);
        v.To(o.qualityInd, QualityInd);
        v.To(o.prUsed, PrUsed);
        v.To(o.crUsed, CrUsed);
        v.To(o.doUsed, DoUsed);
        v.To(o.health, Health);
    });
}

Result Read(const std::uint8_t *payload, std::size_t len, SvinfoChannel *out, std::size_t room,
            std::size_t &n) {
    using namespace svinfo;
    return ReadBlocks(payload, len, kLayouts, out, room, n, [](const View &v, SvinfoChannel &o) {
        v.To(o.svid, Svid);
        v.To(o.svUsed, SvUsed);
        v.To(o.quality, Quality);
        v.To(o.cno, Cno);
        v.To(o.elev, Elev);
        v.To(o.azim, Azim);
        // The channel has only an unhealthy flag: without it the satellite counts as healthy.
        o.health = v.Get(Unhealthy) != 0 ? 2 : 1;
    });
}

Result Read(const std::uint8_t *payload, std::size_t len, RfBlock *out, std::size_t room,
            std::size_t &n) {
    using namespace rf;
    return ReadBlocks(payload, len, kLayouts, out, room, n, [](const View &v, RfBlock &o) {
        v.To(o.blockId, BlockId);
        v.To(o.jammingState, JammingState);
        v.To(o.antStatus, AntStatus);
        v.To(o.antPower, AntPower);
        v.To(o.noisePerMs, NoisePerMs);
        v.To(o.agcCnt, AgcCnt);
        o.hasJamInd = v.Has(JamInd);
        v.To(o.jamInd, JamInd);
    });
}

bool NavTimeOfWeek(const std::uint8_t *frame, std::size_t len, std::uint32_t &iTow) {
    if (len < 8 || frame[2] != 0x01)
        return false;
    // The high-precision and relative messages lead with a version and reserved bytes.
    const std::uint8_t id = frame[3];
    const std::size_t at = 6 + (id == 0x13 || id == 0x14 || id == 0x3B || id == 0x3C ? 4 : 0);
    if (len < at + 4 + 2)
        return false;
    iTow = frame[at] | static_cast<std::uint32_t>(frame[at + 1]) << 8 |
           static_cast<std::uint32_t>(frame[at + 2]) << 16 |
           static_cast<std::uint32_t>(frame[at + 3]) << 24;
    return true;
}

} // namespace ubx
