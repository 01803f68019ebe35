#pragma once

#include "shell/registry.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace chwr {

// The program's own key, under HKEY_LOCAL_MACHINE; all its values are strings.
inline constexpr std::string_view kProgramKey = "SOFTWARE\\Brindlewood\\CHWR\\1.0";
// The database file chosen with "Browse".
inline constexpr std::string_view kDbPathSetting = "CHWR-DBPath";
// The HotSync user's directory name.
inline constexpr std::string_view kDbHotSyncIdSetting = "CHWR-DBHOTSYNCID";
// Which database location is in force: "1" the path, anything else the HotSync user.
inline constexpr std::string_view kDbOptionSetting = "CHWR-DBOption";
// The stored texts of the two database locations.
inline constexpr std::string_view kDbOptionHotSyncText = "0";
inline constexpr std::string_view kDbOptionPathText = "1";
// A General MIDI SoundFont for the player, when not one of the system's usual ones.
inline constexpr std::string_view kSoundFontSetting = "CHWR-SoundFont";

// A value is queried into a buffer of this many bytes; a longer value cannot be read.
inline constexpr std::size_t kRegValueBufferBytes = 1024;
// ReadRegValue writes a 32-bit number as this prefix and hexadecimal digits.
inline constexpr std::string_view kHexNumberPrefix = "&h";

// Named values read and written as text, over the registry layer. Neither operation
// shows anything; callers start with an empty text and treat an empty result as absent.
class SettingsStore {
public:
    explicit SettingsStore(Registry& registry) : m_registry(registry) {}

    // Reads one value into value; the empty name is the key's default value. True when
    // the key opened and the value was read. A string value's last byte is dropped when
    // it is 0; a 32-bit number becomes "&h" and its bytes from the most significant,
    // each below 0x0A as two digits, 0x0A to 0x0F as one letter; value is left as it
    // was for any other type, and when the value is longer than kRegValueBufferBytes.
    bool ReadRegValue(RegistryRoot root, std::string_view subKey, std::string_view valueName,
                      std::string& value) const;

    // Writes one value, creating the key when needed. type is String (the text, no 0
    // byte), Binary (the same bytes) or Number32 (the text as a signed 32-bit number,
    // decimal or "&h" hexadecimal). On failure value becomes the empty text. A value
    // that ReadRegValue could not read back (longer than kRegValueBufferBytes) is refused.
    bool WriteRegValue(RegistryRoot root, std::string_view subKey, RegistryValueType type,
                       std::string_view valueName, std::string& value);

    // One of the program's own values; empty when absent or unreadable.
    std::string readSetting(std::string_view name) const;
    // Stores one of the program's own values as a string; false when it could not.
    bool writeSetting(std::string_view name, std::string text);

private:
    Registry& m_registry;
};

} // namespace chwr
