#pragma once

#include "shell/bytes.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace chwr {

// Palm Desktop's list of HotSync users, in its folder. Numbers are little-endian, texts
// bytes of the Windows code page (Windows-1252) without terminator:
//   2 bytes      skipped
//   2 bytes      marker; kUsersDatTextMarker adds: 2 bytes skipped, signed 16-bit
//                length n, n bytes of text (skipped; a negative n is no text)
//   first user   4 bytes skipped, 1-byte length + name, 1-byte length + directory name
//   the rest     further users, each after the signature 0x01 0x80, laid out as the first
inline constexpr std::string_view kUsersDatName = "users.dat";
// The header marker after which a length-prefixed text follows.
inline constexpr std::uint16_t kUsersDatTextMarker = 0xFFFF;
// The two bytes that announce each user after the first.
inline constexpr std::uint8_t kUserSignatureFirst = 0x01;
inline constexpr std::uint8_t kUserSignatureSecond = 0x80;
// Bytes at the start of each user record that the program does not use.
inline constexpr std::size_t kUserRecordSkippedBytes = 4;
// users.dat holds a few short records; a larger file is not Palm Desktop's and is not read.
inline constexpr std::size_t kMaxUsersDatBytes = 16 * 1024 * 1024;

// One user as read: the name (not used) and the directory name (the "shortname") of
// the user's folder under the Palm Desktop folder, both turned from Windows-1252 into
// UTF-8, as the user sees them. hotSyncUserFolder() finds the folder by either form.
struct HotSyncUser {
    std::string name;
    std::string directoryName;

    friend bool operator==(const HotSyncUser&, const HotSyncUser&) = default;
};

// The users in file order. A record cut short by the end of the file gives what it
// holds; a record whose directory name is empty is left out, since it names no folder.
std::vector<HotSyncUser> parseUsersDat(ByteView bytes);

// The users of PalmDesktopDirectory/users.dat; none when the file is missing or
// cannot be read (Palm Desktop may never have synchronised).
std::vector<HotSyncUser> readHotSyncUsers(const std::filesystem::path& palmDesktopDirectory);

// The directory names, in order: what the user box lists.
std::vector<std::string> userDirectoryNames(const std::vector<HotSyncUser>& users);

} // namespace chwr
