#pragma once

#include <cstdint>
#include <string>

// Builds one UBX message: fields appended to the payload little-endian, as the protocol sends
// them, then Frame() wraps it in sync bytes, class, id, length and checksum.
class CUbxWriter {
public:
    CUbxWriter &U1(unsigned value) { return Put(value, 1); }
    CUbxWriter &I1(int value) { return Put(static_cast<std::uint32_t>(value), 1); }
    CUbxWriter &U2(unsigned value) { return Put(value, 2); }
    CUbxWriter &I2(int value) { return Put(static_cast<std::uint32_t>(value), 2); }
    CUbxWriter &U4(std::uint32_t value) { return Put(value, 4); }
    CUbxWriter &I4(std::int32_t value) { return Put(static_cast<std::uint32_t>(value), 4); }
    // Reserved bytes.
    CUbxWriter &Zeros(std::size_t n) {
        m_payload.append(n, '\0');
        return *this;
    }

    std::size_t Size() const { return m_payload.size(); }
    std::string Frame(std::uint8_t cls, std::uint8_t id) const;

private:
    CUbxWriter &Put(std::uint32_t value, int bytes);

    std::string m_payload;
};

// A UBX frame of class and id around payload, with its checksum.
std::string UbxFrame(std::uint8_t cls, std::uint8_t id, const std::string &payload);
