#pragma once

#include "receiver/ReceiverFamily.h"
#include "receiver/RestartKind.h"

#include <cstddef>
#include <string>

// The receiver restart sentences ($PSRF104, SiRF's navigation initialisation with a reset), for
// the dialog's cold, warm and hot start:
//
//     char line[kSentenceBufferSize];
//     m_port.Send(ComposeColdStart(line));

inline constexpr std::size_t kSentenceBufferSize = 256;

// Completes the zero-terminated sentence in buf (size bytes, beginning with "$") in place with
// "*", the two upper-case hex digits of the NMEA checksum, CR and LF. The checksum is the
// exclusive or of every byte after the "$". Leaves buf as it is when it does not begin with "$",
// is not terminated within size, or lacks room for the six more bytes.
void AppendChecksum(char *buf, std::size_t size);

template <std::size_t N> void AppendChecksum(char (&buf)[N]) {
    AppendChecksum(buf, N);
}

// Each writes its finished line, terminated by a zero that is not sent, into buf and returns buf.
const char *ComposeColdStart(char (&buf)[kSentenceBufferSize]);
const char *ComposeWarmStart(char (&buf)[kSentenceBufferSize]);
const char *ComposeHotStart(char (&buf)[kSentenceBufferSize]);

// The restart in the receiver family's own language, as the bytes to send: an NMEA sentence with
// its checksum and CR LF, or for u-blox a binary UBX frame (which may hold zero bytes). SiRF and
// an unknown receiver get the $PSRF104 sentences above.
std::string ComposeRestart(ReceiverFamily family, RestartKind kind);

// One read-only query per family that makes a running receiver name itself, all in one string
// to send at once: UBX-MON-VER poll (u-blox), PMTK605 firmware release (MediaTek), PCAS06,0
// firmware information (CASIC), PSTMGETSWVER,0 version (ST). Each family ignores the others'.
std::string ComposeFamilyQueries();

// How long a receiver that has not named itself gets to answer ComposeFamilyQueries.
inline constexpr int kFamilyQueryMs = 1000;
