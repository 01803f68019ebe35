#include "shell/file_helpers.h"

#include <algorithm>
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

// UTF-8 continuation bytes are 10xxxxxx: a cut never goes before one.
constexpr unsigned char kUtf8ContinuationMask = 0xC0;
constexpr unsigned char kUtf8ContinuationBits = 0x80;

bool isUtf8Continuation(char c)
{
    return (static_cast<unsigned char>(c) & kUtf8ContinuationMask) == kUtf8ContinuationBits;
}

// before + counter + after within a file name: the text in front of the counter is
// cut first; when it is too short, the text after the counter is cut, keeping its last
// "." part where that fits. The counter itself always stays.
std::string withCounter(std::string_view before, const std::string& counter, std::string_view after)
{
    const std::size_t total = before.size() + counter.size() + after.size();
    if (total <= kMaxFileNameBytes)
        return std::string(before) + counter + std::string(after);
    const std::size_t excess = total - kMaxFileNameBytes;
    if (before.size() >= excess)
        return CutUtf8(before, before.size() - excess) + counter + std::string(after);
    const std::size_t room = kMaxFileNameBytes - std::min(kMaxFileNameBytes, before.size() + counter.size());
    const std::size_t dot = after.rfind('.');
    const std::string_view extension =
        dot != std::string_view::npos && after.size() - dot <= room ? after.substr(dot) : std::string_view();
    return std::string(before) + counter +
           CutUtf8(after.substr(0, after.size() - extension.size()), room - extension.size()) +
           std::string(extension);
}

} // namespace

std::string CutUtf8(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return std::string(text);
    std::size_t cut = maxBytes;
    while (cut > 0 && isUtf8Continuation(text[cut]))
        --cut;
    return std::string(text.substr(0, cut));
}

std::string FitFileName(std::string_view stem, std::string_view extension)
{
    const std::size_t room = kMaxFileNameBytes - std::min(extension.size(), kMaxFileNameBytes);
    return CutUtf8(stem, room) + std::string(extension);
}

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
        candidate = withCounter(before, " (" + std::to_string(n) + ")", after);
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
