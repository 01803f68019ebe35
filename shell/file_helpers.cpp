#include "shell/file_helpers.h"

#include <cmath>
#include <limits>
#include <system_error>

namespace chwr {
namespace fs = std::filesystem;

namespace {

// Where UniqueFileName puts its counter: the first " (", else the first ".", else the end.
std::size_t counterPosition(std::string_view name)
{
    if (std::size_t bracket = name.find(" ("); bracket != std::string_view::npos)
        return bracket;
    if (std::size_t dot = name.find('.'); dot != std::string_view::npos)
        return dot;
    return name.size();
}

bool isForbiddenInFileName(unsigned char c)
{
    constexpr std::string_view forbidden = "/\\<>:\"|?*";
    return c < 0x20 || c == 0x7F || forbidden.find(static_cast<char>(c)) != std::string_view::npos;
}

} // namespace

bool FileExists(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error);
}

std::string UniqueFileName(const fs::path& folder, std::string_view name)
{
    std::string candidate(name);
    if (!FileExists(folder / candidate))
        return candidate;
    const std::size_t cut = counterPosition(name);
    const std::string_view before = name.substr(0, cut);
    const std::string_view after = name.substr(cut);
    for (unsigned long n = 1;; ++n) {
        candidate = std::string(before) + " (" + std::to_string(n) + ")" + std::string(after);
        if (!FileExists(folder / candidate))
            return candidate;
    }
}

std::string NameStem(std::string_view title)
{
    if (std::size_t bracket = title.find(" ("); bracket != std::string_view::npos)
        return std::string(title.substr(0, bracket));
    if (std::size_t dot = title.find('.'); dot != std::string_view::npos)
        return std::string(title.substr(0, dot));
    return std::string(title);
}

std::int64_t IntegerPart(double number)
{
    if (std::isnan(number) || number < 1)
        return 0;
    // 2^63 is exactly representable; anything at or above it saturates.
    constexpr double limit = 9223372036854775808.0;
    if (number >= limit)
        return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(std::trunc(number));
}

std::string SafeFileName(std::string_view name)
{
    std::string safe(name);
    for (char& c : safe) {
        if (isForbiddenInFileName(static_cast<unsigned char>(c)))
            c = '_';
    }
    return safe;
}

} // namespace chwr
