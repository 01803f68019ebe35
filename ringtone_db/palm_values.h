#pragma once

#include "shell/bytes.h"
#include "shell/result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace chwr {

// Palm databases and Standard MIDI Files store numbers big-endian (most significant
// byte first) and names as NUL-terminated text. These turn such raw fields into values
// and back; every read checks that its bytes are there.

// The characters before the first NUL; the whole text when it holds none.
std::string TrimAtNul(std::string_view text);
// The same cut on bytes: the bytes before the first 0x00.
Bytes TrimAtNul(ByteView bytes);

// One to four bytes as one unsigned number, most significant first; four bytes give the
// two's-complement value (FF FF FF FF is -1). Any other length is refused.
Result<std::int32_t> BytesToNumber(ByteView bytes);

// Unsigned 16- and 32-bit big-endian numbers at an offset of the bytes.
Result<std::uint16_t> readUint16BigEndian(ByteView bytes, std::size_t offset);
Result<std::uint32_t> readUint32BigEndian(ByteView bytes, std::size_t offset);
// A 24-bit big-endian number, such as a Palm record's unique ID.
Result<std::uint32_t> readUint24BigEndian(ByteView bytes, std::size_t offset);

// Big-endian numbers appended to a byte string; a 24-bit write keeps the low three bytes.
void appendUint16BigEndian(Bytes& out, std::uint16_t value);
void appendUint24BigEndian(Bytes& out, std::uint32_t value);
void appendUint32BigEndian(Bytes& out, std::uint32_t value);

} // namespace chwr
