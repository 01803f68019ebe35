#include "shell/windows1252.h"

#include <array>
#include <cstdint>
#include <optional>

namespace chwr {

namespace {

// The characters of bytes 0x80 to 0x9F; every other byte is the character of its own value.
constexpr std::array<char32_t, 32> kHighControlRange = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
// First byte of the range above.
constexpr std::uint8_t kHighControlFirst = 0x80;
// The byte written for a character the code page cannot hold.
constexpr std::uint8_t kReplacementByte = '?';

char32_t characterOf(std::uint8_t byte)
{
    if (byte >= kHighControlFirst && byte < kHighControlFirst + kHighControlRange.size())
        return kHighControlRange[byte - kHighControlFirst];
    return byte;
}

std::optional<std::uint8_t> byteOf(char32_t character)
{
    if (character < kHighControlFirst || (character > 0x9F && character <= 0xFF))
        return static_cast<std::uint8_t>(character);
    for (std::size_t i = 0; i < kHighControlRange.size(); ++i) {
        if (kHighControlRange[i] == character)
            return static_cast<std::uint8_t>(kHighControlFirst + i);
    }
    return std::nullopt;
}

void appendUtf8(std::string& text, char32_t c)
{
    if (c < 0x80) {
        text += static_cast<char>(c);
    } else if (c < 0x800) {
        text += static_cast<char>(0xC0 | (c >> 6));
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        // Every character of the code page lies in the Basic Multilingual Plane.
        text += static_cast<char>(0xE0 | (c >> 12));
        text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one UTF-8 character at text[i], advancing i; an invalid or overlong
// sequence yields nothing and advances past one byte.
std::optional<char32_t> nextUtf8Character(std::string_view text, std::size_t& i)
{
    const auto lead = static_cast<std::uint8_t>(text[i]);
    std::size_t length = 0;
    char32_t value = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
        ++i;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
        smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
        smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
        smallest = 0x10000;
    } else {
        ++i;
        return std::nullopt;
    }
    if (i + length > text.size()) {
        ++i;
        return std::nullopt;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<std::uint8_t>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            ++i;
            return std::nullopt;
        }
        value = (value << 6) | (next & 0x3F);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        ++i;
        return std::nullopt;
    }
    i += length;
    return value;
}

} // namespace

std::string windows1252ToUtf8(ByteView bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (std::uint8_t byte : bytes)
        appendUtf8(text, characterOf(byte));
    return text;
}

Bytes utf8ToWindows1252(std::string_view text)
{
    Bytes bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::optional<char32_t> character = nextUtf8Character(text, i);
        std::optional<std::uint8_t> byte = character ? byteOf(*character) : std::nullopt;
        bytes.push_back(byte.value_or(kReplacementByte));
    }
    return bytes;
}

} // namespace chwr
