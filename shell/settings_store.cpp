#include "shell/settings_store.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>

namespace chwr {

namespace {

// A 32-bit number's text: decimal with an optional sign, or "&h" and hex digits.
std::optional<std::int32_t> parseNumber32(std::string_view text)
{
    if (text.size() > kHexNumberPrefix.size() &&
        (text.substr(0, kHexNumberPrefix.size()) == kHexNumberPrefix || text.substr(0, 2) == "&H")) {
        std::string_view digits = text.substr(kHexNumberPrefix.size());
        std::uint32_t value = 0;
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
        if (error != std::errc() || end != digits.data() + digits.size())
            return std::nullopt;
        return static_cast<std::int32_t>(value);
    }
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() ||
        value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::string hexNumberText(ByteView bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text(kHexNumberPrefix);
    for (std::size_t i = bytes.size(); i-- > 0;) {
        std::uint8_t byte = bytes[i];
        if (byte < 0x0A) {
            text += '0';
            text += digits[byte];
        } else if (byte <= 0x0F) {
            text += digits[byte];
        } else {
            text += digits[byte >> 4];
            text += digits[byte & 0x0F];
        }
    }
    return text;
}

} // namespace

bool SettingsStore::ReadRegValue(RegistryRoot root, std::string_view subKey, std::string_view valueName,
                                 std::string& value) const
{
    auto key = m_registry.openKey(root, subKey);
    if (!key)
        return false;
    auto stored = (*key)->queryValue(valueName);
    if (!stored || stored->data.size() > kRegValueBufferBytes)
        return false;

    ByteView taken = stored->data;
    if (!taken.empty() && taken.back() == 0)
        taken = taken.first(taken.size() - 1);
    switch (stored->type) {
    case RegistryValueType::String:
        value = asString(taken);
        break;
    case RegistryValueType::Number32:
        value = hexNumberText(taken);
        break;
    default:
        break;
    }
    return true;
}

bool SettingsStore::WriteRegValue(RegistryRoot root, std::string_view subKey, RegistryValueType type,
                                  std::string_view valueName, std::string& value)
{
    RegistryValue stored{type, {}};
    switch (type) {
    case RegistryValueType::String:
    case RegistryValueType::Binary:
        stored.data.assign(asBytes(value).begin(), asBytes(value).end());
        break;
    case RegistryValueType::Number32: {
        auto number = parseNumber32(value);
        if (!number) {
            value.clear();
            return false;
        }
        auto bits = static_cast<std::uint32_t>(*number);
        stored.data = {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                       static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
        break;
    }
    default:
        value.clear();
        return false;
    }
    if (stored.data.size() > kRegValueBufferBytes) {
        value.clear();
        return false;
    }

    auto key = m_registry.openKey(root, subKey);
    if (!key)
        key = m_registry.createKey(root, subKey);
    if (!key || !(*key)->setValue(valueName, stored)) {
        value.clear();
        return false;
    }
    return true;
}

std::string SettingsStore::readSetting(std::string_view name) const
{
    std::string text;
    ReadRegValue(RegistryRoot::LocalMachine, kProgramKey, name, text);
    return text;
}

bool SettingsStore::writeSetting(std::string_view name, std::string text)
{
    return WriteRegValue(RegistryRoot::LocalMachine, kProgramKey, RegistryValueType::String, name, text);
}

} // namespace chwr
