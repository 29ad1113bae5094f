#include "UbxWriter.h"

#include "UbxMessages.h"

CUbxWriter &CUbxWriter::Put(std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        m_payload += static_cast<char>((value >> (8 * i)) & 0xFFu);
    return *this;
}

std::string CUbxWriter::Frame(std::uint8_t cls, std::uint8_t id) const {
    return UbxFrame(cls, id, m_payload);
}

std::string UbxFrame(std::uint8_t cls, std::uint8_t id, const std::string &payload) {
    std::string frame = "\xB5\x62";
    frame += static_cast<char>(cls);
    frame += static_cast<char>(id);
    frame += static_cast<char>(payload.size() & 0xFF);
    frame += static_cast<char>((payload.size() >> 8) & 0xFF);
    frame += payload;
    std::uint8_t ckA = 0, ckB = 0;
    ubx::Checksum(reinterpret_cast<const std::uint8_t *>(frame.data()) + 2, frame.size() - 2, ckA,
                  ckB);
    frame += static_cast<char>(ckA);
    frame += static_cast<char>(ckB);
    return frame;
}
