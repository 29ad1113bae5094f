#pragma once

// receiver: what we say to a receiver, in its family's language, and the reply that confirms it.

#include "receiver/ReceiverFamily.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Changing a receiver's settings in its own language: the measurement rate, the constellations,
// the baud rate, and saving them to its non-volatile memory. Only the commands and the replies
// that acknowledge them live here; CReceiverConfigurator sends, waits and verifies.

// The constellations, as bits of a mask.
enum GnssBit : unsigned {
    kGnssGps = 1u << 0,
    kGnssGlonass = 1u << 1,
    kGnssGalileo = 1u << 2,
    kGnssBeidou = 1u << 3,
    kGnssQzss = 1u << 4,
    kGnssSbas = 1u << 5,
};
// "GPS,GLO,GAL,BDS,QZSS,SBAS" as given on the command line (any order, any case); false with the
// reason for an unknown name or an empty list.
bool ParseGnssList(const std::string &text, unsigned &mask, std::string &why);
// The mask as that list, in the order above.
std::string GnssListText(unsigned mask);

enum class SettingKind { Rate, Gnss, Baud, Save };
struct Setting {
    SettingKind kind = SettingKind::Rate;
    int rateHz = 0;    // Rate
    unsigned gnss = 0; // Gnss: GnssBit mask
    int baud = 0;      // Baud
};
// "rate=5", "gnss=GPS,GAL", "baud=115200"; false with the reason.
bool ParseSetting(const std::string &text, Setting &out, std::string &why);
// "rate", "gnss", "baud", "save".
const char *SettingName(SettingKind kind);
// The value as the user gives it: "5", "GPS,GAL", "115200"; "" for Save.
std::string SettingValue(const Setting &setting);

// What a family lets be changed.
struct FamilySupport {
    bool rate = false, gnss = false, baud = false, save = false;
    std::vector<int> rates;    // Hz allowed
    unsigned gnssChoices = 0;  // constellations it can switch
    unsigned gnssRequired = 0; // ones it cannot switch off (GPS on most)
    std::vector<int> bauds;    // baud rates allowed
    bool onlyWithSave = false; // applied only after saving and a reset (ST)
};
// protocolVersion: the u-blox protocol version times 100 from MON-VER (PROTVER=27.11 gives 2711),
// 0 when unknown; it selects the key interface (23.01 and later) or the legacy messages.
FamilySupport SupportOf(ReceiverFamily family, int protocolVersion = 0);

// What answers a command: the reply that acknowledges it and the one that refuses it.
struct ReplyMatch {
    enum class Kind {
        None,     // nothing answers (SiRF, a baud change): verified by what follows
        UbxAck,   // UBX ACK-ACK / ACK-NAK for class and id
        Sentence, // a sentence starting with ack (or nak) prefix, "$" included
    };
    Kind kind = Kind::None;
    std::uint8_t ubxClass = 0, ubxId = 0;
    std::string ack, nak;
};
// One command and what answers it.
struct ConfigStep {
    std::string bytes; // a whole sentence with checksum and CRLF, or a whole UBX frame
    ReplyMatch reply;
    std::string what; // for a message ("CFG-VALSET rate", "$PMTK220")
    int settleMs = 0; // a pause after it before the next step (a reset, a baud change)
};
// The commands that make setting, in order; empty with the reason in why when the family cannot
// (why starts with "not supported" or names the refusal, as "ST applies it only with Save").
// For u-blox with the key interface each key may come as a step of its own when oneKeyEach is
// set (after a NAK of the whole VALSET), so the refused key can be named (ConfigStep::what).
std::vector<ConfigStep> ComposeSetting(ReceiverFamily family, int protocolVersion,
                                       const Setting &setting, bool oneKeyEach, std::string &why);

// Classifies one reply against a step: 1 acknowledged, -1 refused, 0 not this step's reply.
int MatchSentence(const ReplyMatch &match, const char *sentence, std::size_t len);
int MatchUbxFrame(const ReplyMatch &match, const unsigned char *frame, std::size_t len);

// Bytes a second a receiver of these settings sends (its sentences per epoch over the systems),
// against what the line carries (baud / 10); false with the reason ("10 Hz of 4 systems needs
// about 9000 bytes a second; 9600 baud carries 960") when it does not fit.
bool FitsLine(int rateHz, unsigned gnss, int baud, std::string &why);
