#pragma once

#include "shell/bytes.h"
#include "shell/result.h"

#include <cstdint>
#include <filesystem>

namespace chwr {

// Writes bytes over those of an existing file at offset and leaves the rest as it is:
// for a count in a header that is known only once the file is written. Goes through the
// fault seam of shell/file_io.h as an open for writing, writes and a close; the
// messages name the file and the system's reason.
Result<void> overwriteFileBytes(const std::filesystem::path& path, std::uint64_t offset, ByteView bytes);

} // namespace chwr
