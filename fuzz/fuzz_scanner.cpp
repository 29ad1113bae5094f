// Feeds arbitrary bytes to the scanner in blocks whose sizes come from the input itself, with the
// hooks the port sets (receiver recogniser, stopwatch) and the copies the window takes. After
// every block the record must hold its invariants; at the end record, counters, sky table and
// recognised family must equal those from feeding the same bytes in one block, so a sentence or
// frame cut by a block edge changes nothing.
#include "FixExtra.h"
#include "FixStopwatch.h"
#include "GpsFix.h"
#include "NmeaDecoder.h"
#include "ReceiverFamily.h"
#include "ScanCounters.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
           a.nUnknown == b.nUnknown && a.nBadByte == b.nBadByte && a.nGns == b.nGns;
}

// A decoder wired as the port wires it.
struct Decoding {
    CNmeaDecoder decoder{0};
    CReceiverFamily family;
    CFixStopwatch stopwatch;
    Decoding() {
        decoder.SetHooks({[this](const char *b, std::size_t n) { family.OnBlock(b, n); },
                          [this](const char *l, std::size_t n) { family.OnSentence(l, n); },
                          [this](bool valid) { stopwatch.OnFixReport(valid); },
                          {}});
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
            if (x.sigs[k].id != y.sigs[k].id || x.sigs[k].snr != y.sigs[k].snr)
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
    SkyView wholeSky;
    whole.CopyFix(wholeFix);
    whole.CopySky(wholeSky);
    CheckInvariants(wholeFix);
    if (!SameSky(sky, wholeSky)) {
        Fail("sky table differs from the one decoded in a single block");
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
