// Feeds arbitrary bytes to the scanner in blocks whose sizes come from the input itself, with the
// hooks the port sets (receiver recogniser, stopwatch) and the copies the window takes. After
// every block the record must hold its invariants; at the end record, counters, sky table and
// recognised family must equal those from feeding the same bytes in one block, so a sentence or
// frame cut by a block edge changes nothing. Byte 0's bit 7 mends the inputs' UBX checksums.
#include "model/FixExtra.h"
#include "model/GpsFix.h"
#include "model/NmeaDecoder.h"
#include "protocol/ScanCounters.h"
#include "protocol/UbxMessages.h"
#include "receiver/FixStopwatch.h"
#include "receiver/ReceiverFamily.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Fail(const char *what) {
    std::fprintf(stderr, "fuzz_scanner: %s\n", what);
    std::abort();
}

void CheckInvariants(const GpsFix &fix) {
    if (fix.bReserved1 != 0 || fix.bReserved3 != 0 || fix.bReserved4 != 0) {
        Fail("reserved byte written");
    }
    for (std::uint8_t b : fix.bReserved2) {
        if (b != 0) {
            Fail("reserved byte written");
        }
    }
    for (const SatInfo &sat : fix.sat) {
        if (sat.bReserved != 0) {
            Fail("satellite reserved byte written");
        }
    }
    for (std::int8_t prn : fix.cUsedPrn) {
        if (prn < 0 || prn > 32) {
            Fail("used PRN out of 0..32");
        }
    }
}

bool SameCounters(const ScanCounters &a, const ScanCounters &b) {
    return a.nGga == b.nGga && a.nGsa == b.nGsa && a.nGsv == b.nGsv && a.nRmc == b.nRmc &&
           a.nBadChecksum == b.nBadChecksum && a.nCut == b.nCut && a.nTooLong == b.nTooLong &&
           a.nUnknown == b.nUnknown && a.nBadByte == b.nBadByte && a.nGns == b.nGns &&
           a.nUbx == b.nUbx && a.nUbxBad == b.nUbxBad && a.nUbxSkipped == b.nUbxSkipped &&
           a.nRtcm == b.nRtcm && a.nRtcmBad == b.nRtcmBad;
}

bool SameExtra(const FixExtra &a, const FixExtra &b) {
    const Integrity &x = a.integrity, &y = b.integrity;
    if (x.nBlocks != y.nBlocks || x.jamming != y.jamming || x.spoofing != y.spoofing ||
        x.antenna != y.antenna || x.antPower != y.antPower)
        return false;
    for (std::size_t i = 0; i < x.nBlocks && i < Integrity::kMaxBlocks; ++i) {
        if (x.blocks[i].jamInd != y.blocks[i].jamInd ||
            x.blocks[i].agcPermil != y.blocks[i].agcPermil)
            return false;
    }
    // Compared as bits: a NaN never comes from a receiver's integers, and must not hide one.
    return a.sent == b.sent && a.quality == b.quality && a.carrier == b.carrier &&
           std::memcmp(&a.hAccM, &b.hAccM, sizeof a.hAccM) == 0 &&
           std::memcmp(&a.vAccM, &b.vAccM, sizeof a.vAccM) == 0 &&
           std::memcmp(&a.speedAccMps, &b.speedAccMps, sizeof a.speedAccMps) == 0 &&
           a.hasPrecise == b.hasPrecise &&
           std::memcmp(&a.preciseLat, &b.preciseLat, sizeof a.preciseLat) == 0 &&
           std::memcmp(&a.preciseLon, &b.preciseLon, sizeof a.preciseLon) == 0 &&
           std::memcmp(&a.preciseHeight, &b.preciseHeight, sizeof a.preciseHeight) == 0 &&
           std::memcmp(a.gnsMode, b.gnsMode, sizeof a.gnsMode) == 0;
}

// A decoder wired as the port wires it.
struct Decoding {
    CNmeaDecoder decoder{0};
    CReceiverFamily family;
    CFixStopwatch stopwatch;
    // Every good frame's bytes, folded in order: the same frames must come out however cut.
    std::uint64_t frames = 1469598103934665603ull;
    Decoding() {
        // One fixed time for both feedings: what the table keeps while data is recent must not
        // depend on how long this process took (a pause of a few seconds between the two
        // feedings once made their tables differ).
        decoder.SetClock([] { return std::int64_t{1000}; });
        decoder.SetHooks(
            {{},
             [this](const char *l, std::size_t n) { family.OnSentence(l, n); },
             [this](bool valid) { stopwatch.OnFixReport(valid); },
             [this](FrameProtocol protocol, const unsigned char *frame, std::size_t len) {
                 if (protocol == FrameProtocol::Ubx)
                     family.OnUbxFrame();
                 frames = (frames ^ static_cast<std::uint64_t>(protocol)) * 1099511628211ull;
                 for (std::size_t i = 0; i < len; ++i)
                     frames = (frames ^ frame[i]) * 1099511628211ull;
             }});
        stopwatch.Start(RestartKind::Cold, CFixStopwatch::Clock::now());
    }
};

bool SameSky(const SkyView &a, const SkyView &b) {
    if (a.count != b.count || a.leftOut != b.leftOut)
        return false;
    // Everything but when each signal was heard, which is the clock's.
    for (std::size_t i = 0; i < a.count && i < SkyView::kMax; ++i) {
        const SkySat &x = a.sats[i];
        const SkySat &y = b.sats[i];
        if (x.gnss != y.gnss || x.sv != y.sv || x.el != y.el || x.az != y.az || x.snr != y.snr ||
            x.used != y.used || x.hasPosition != y.hasPosition || x.nSigs != y.nSigs)
            return false;
        for (std::size_t k = 0; k < x.nSigs && k < SkySat::kMaxSignals; ++k)
            if (x.sigs[k].id != y.sigs[k].id || x.sigs[k].snr != y.sigs[k].snr ||
                x.sigs[k].quality != y.sigs[k].quality)
                return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // Byte 0 says how many size bytes follow (1..4); each gives a block size of 1..256, used in
    // turn.
    if (size < 2) {
        return 0;
    }
    const std::size_t nSizes = (data[0] & 3u) + 1u;
    if (size <= nSizes + 1) {
        return 0;
    }
    int sizes[4] = {};
    for (std::size_t i = 0; i < nSizes; ++i) {
        sizes[i] = data[1 + i] + 1;
    }
    const char *text = reinterpret_cast<const char *>(data + 1 + nSizes);
    const std::size_t length = size - 1 - nSizes;
    if (length > 1u << 20) {
        return 0;
    }
    // With bit 7 of byte 0 set, each UBX frame in the input gets the checksum its bytes need, so
    // mutated payloads reach the UBX decoders rather than stop at the checksum.
    std::vector<unsigned char> repaired;
    if ((data[0] & 0x80u) != 0) {
        repaired.assign(data + 1 + nSizes, data + size);
        for (std::size_t i = 0; i + 8 <= length; ++i) {
            if (repaired[i] != 0xB5 || repaired[i + 1] != 0x62)
                continue;
            const std::size_t len = repaired[i + 4] | std::size_t{repaired[i + 5]} << 8;
            if (i + 8 + len > length)
                continue;
            ubx::Checksum(&repaired[i + 2], 4 + len, repaired[i + 6 + len], repaired[i + 7 + len]);
        }
        text = reinterpret_cast<const char *>(repaired.data());
    }

    Decoding blocking;
    CNmeaDecoder &blocks = blocking.decoder;
    GpsFix fix;
    FixExtra extra{};
    SkyView sky;
    std::size_t pos = 0;
    for (std::size_t i = 0; pos < length; ++i) {
        const std::size_t n =
            std::min<std::size_t>(static_cast<std::size_t>(sizes[i % nSizes]), length - pos);
        blocks.ParseBuffer(text + pos, static_cast<int>(n));
        pos += n;
        blocks.CopyFix(fix, extra);
        blocks.CopySky(sky);
        CheckInvariants(fix);
        (void)blocking.stopwatch.Text(CFixStopwatch::Clock::now());
    }

    Decoding wholly;
    CNmeaDecoder &whole = wholly.decoder;
    whole.ParseBuffer(text, static_cast<int>(length));
    GpsFix wholeFix;
    FixExtra wholeExtra{};
    SkyView wholeSky;
    whole.CopyFix(wholeFix, wholeExtra);
    whole.CopySky(wholeSky);
    CheckInvariants(wholeFix);
    if (!SameSky(sky, wholeSky)) {
        Fail("sky table differs from the one decoded in a single block");
    }
    if (!SameExtra(extra, wholeExtra)) {
        Fail("extra differs from the one decoded in a single block");
    }
    if (blocking.frames != wholly.frames) {
        Fail("binary frames differ from those found in a single block");
    }
    if (blocking.family.Current() != wholly.family.Current()) {
        Fail("receiver family differs from the one recognised in a single block");
    }

    if (std::memcmp(&fix, &wholeFix, sizeof fix) != 0) {
        Fail("record differs from the one decoded in a single block");
    }
    if (!SameCounters(blocks.CopyCounters(), whole.CopyCounters())) {
        Fail("counters differ from the ones counted in a single block");
    }
    return 0;
}
