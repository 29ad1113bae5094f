// Feeds arbitrary bytes to the scanner in blocks whose sizes come from the input itself. After
// every block the record must hold its invariants; at the end it must equal the record from
// feeding the same bytes in one block, so a sentence cut by a block edge changes nothing.
#include "GpsFix.h"
#include "NmeaDecoder.h"
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

    CNmeaDecoder blocks(0);
    GpsFix fix;
    std::size_t pos = 0;
    for (std::size_t i = 0; pos < length; ++i) {
        const std::size_t n =
            std::min<std::size_t>(static_cast<std::size_t>(sizes[i % nSizes]), length - pos);
        blocks.ParseBuffer(text + pos, static_cast<int>(n));
        pos += n;
        blocks.CopyFix(fix);
        CheckInvariants(fix);
    }

    CNmeaDecoder whole(0);
    whole.ParseBuffer(text, static_cast<int>(length));
    GpsFix wholeFix;
    whole.CopyFix(wholeFix);
    CheckInvariants(wholeFix);

    if (std::memcmp(&fix, &wholeFix, sizeof fix) != 0) {
        Fail("record differs from the one decoded in a single block");
    }
    if (!SameCounters(blocks.CopyCounters(), whole.CopyCounters())) {
        Fail("counters differ from the ones counted in a single block");
    }
    return 0;
}
