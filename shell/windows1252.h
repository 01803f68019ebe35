#pragma once

#include "shell/bytes.h"

#include <string>
#include <string_view>

namespace chwr {

// Ring tone names on disk are bytes of the Windows-1252 code page. These turn them into
// UTF-8 text for the user and back. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control characters of the same value,
// so every byte string survives the round trip unchanged.

// Each byte as the UTF-8 form of the character it stands for.
std::string windows1252ToUtf8(ByteView bytes);

// Each character of the UTF-8 text as one Windows-1252 byte; a character the code
// page cannot hold, and each byte of an invalid UTF-8 sequence, becomes "?".
Bytes utf8ToWindows1252(std::string_view text);

} // namespace chwr
