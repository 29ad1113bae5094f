#include "UbxWriter.h"

#include "protocol/UbxMessages.h"

CUbxWriter &CUbxWriter::Put(std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        m_payload += static_cast<char>((value >> (8 * i)) & 0xFFu);
    return *this;
}

std::string CUbxWriter::Frame(std::uint8_t cls, std::uint8_t id) const {
    return UbxFrame(cls, id, m_payload);
}

std::string UbxFrame(std::uint8_t cls, std::uint8_t id, const std::string &payload) {
    return ubx::Frame(cls, id, payload);
}
