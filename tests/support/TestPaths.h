#pragma once

#include <cstdlib>
#include <string>

// Where the tests find the built programs, the source tree and the captures: the environment
// (SKYWATCH_TEST_BINARY_DIR, SKYWATCH_TEST_SOURCE_DIR, SKYWATCH_TEST_NMEA_DIR) when set, so an
// unprivileged pass can run from a copy the user can read, else where they were built.
inline std::string TestDir(const char *variable, const char *builtIn) {
    const char *value = std::getenv(variable);
    return value != nullptr && *value != '\0' ? value : builtIn;
}

#ifdef SKYWATCH_BINARY_DIR
inline std::string BinaryDir() {
    return TestDir("SKYWATCH_TEST_BINARY_DIR", SKYWATCH_BINARY_DIR);
}
#endif
#ifdef SKYWATCH_SOURCE_DIR
inline std::string SourceDir() {
    return TestDir("SKYWATCH_TEST_SOURCE_DIR", SKYWATCH_SOURCE_DIR);
}
#endif
#ifdef SKYWATCH_NMEA_DIR
inline std::string NmeaDir() {
    return TestDir("SKYWATCH_TEST_NMEA_DIR", SKYWATCH_NMEA_DIR);
}
#endif
