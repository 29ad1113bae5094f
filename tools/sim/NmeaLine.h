#pragma once

#include <string>

// Builds "$" + body + "*HH\r\n"; the checksum is the exclusive or of the body's bytes.
std::string NmeaLine(const std::string &body);

// True when line ("$...*HH", CR/LF optional) carries a correct checksum.
bool NmeaChecksumOk(const std::string &line);
