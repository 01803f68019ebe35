#include "ringtone_db/palm_values.h"

#include <algorithm>

namespace chwr {

namespace {

// Largest run of bytes that BytesToNumber turns into one number.
constexpr std::size_t kMaxNumberBytes = 4;

Result<std::uint32_t> readUnsignedBigEndian(ByteView bytes, std::size_t offset, std::size_t width)
{
    if (offset > bytes.size() || bytes.size() - offset < width) {
        return Error{"A " + std::to_string(width * 8) + "-bit number at offset " + std::to_string(offset) +
                     " lies beyond the end of the data (" + std::to_string(bytes.size()) + " bytes)"};
    }
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value = (value << 8) | bytes[offset + i];
    return value;
}

} // namespace

std::string TrimAtNul(std::string_view text)
{
    return std::string(text.substr(0, text.find('\0')));
}

Bytes TrimAtNul(ByteView bytes)
{
    auto nul = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    return Bytes(bytes.begin(), nul);
}

Result<std::int32_t> BytesToNumber(ByteView bytes)
{
    if (bytes.empty() || bytes.size() > kMaxNumberBytes)
        return Error{"A number is made of 1 to 4 bytes, not " + std::to_string(bytes.size())};
    Result<std::uint32_t> value = readUnsignedBigEndian(bytes, 0, bytes.size());
    if (!value)
        return Error{value.error()};
    return static_cast<std::int32_t>(*value);
}

Result<std::uint16_t> readUint16BigEndian(ByteView bytes, std::size_t offset)
{
    Result<std::uint32_t> value = readUnsignedBigEndian(bytes, offset, 2);
    if (!value)
        return Error{value.error()};
    return static_cast<std::uint16_t>(*value);
}

Result<std::uint32_t> readUint24BigEndian(ByteView bytes, std::size_t offset)
{
    return readUnsignedBigEndian(bytes, offset, 3);
}

Result<std::uint32_t> readUint32BigEndian(ByteView bytes, std::size_t offset)
{
    return readUnsignedBigEndian(bytes, offset, 4);
}

void appendUint16BigEndian(Bytes& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void appendUint24BigEndian(Bytes& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void appendUint32BigEndian(Bytes& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    appendUint24BigEndian(out, value);
}

} // namespace chwr
