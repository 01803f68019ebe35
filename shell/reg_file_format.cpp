#include "shell/reg_file_format.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

namespace chwr {

namespace {

// Byte order marks: regedit exports UTF-16 little-endian; editors may add UTF-8's.
constexpr std::array<std::uint8_t, 2> kUtf16LeMark = {0xFF, 0xFE};
constexpr std::array<std::uint8_t, 3> kUtf8Mark = {0xEF, 0xBB, 0xBF};
// The character that the marks encode.
constexpr std::uint32_t kByteOrderMark = 0xFEFF;
// Stand-in for a UTF-16 unit that is not a valid character.
constexpr char kReplacementCharacter = '?';
// The registry's own roots, as .reg files name them.
constexpr std::array<std::string_view, 4> kKeptRoots = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER",
                                                        "HKEY_USERS", "HKEY_CURRENT_CONFIG"};
// Hex lists are wrapped before this column, as regedit does.
constexpr std::size_t kHexLineWidth = 76;

bool startsWith(ByteView bytes, std::span<const std::uint8_t> prefix)
{
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

void appendUtf8(std::string& out, std::uint32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// UTF-16 little-endian (after its mark) to UTF-8; an odd last byte is dropped, and so
// is the mark of an export appended to another.
std::string utf16LeToUtf8(ByteView bytes)
{
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unitAt = [&](std::size_t i) { return static_cast<std::uint32_t>(bytes[i] | (bytes[i + 1] << 8)); };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        std::uint32_t unit = unitAt(i);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
            std::uint32_t low = unitAt(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (unit == kByteOrderMark)
            continue;
        if (unit >= 0xD800 && unit < 0xE000)
            out += kReplacementCharacter;
        else
            appendUtf8(out, unit);
    }
    return out;
}

// Where the part of the file that starts at `from` ends: at the next UTF-16 mark, or
// at a UTF-8 mark that starts a line. A UTF-16 part runs to the end of the file (a
// mark inside it is an export appended to it, in UTF-16 again).
std::size_t partEnd(ByteView bytes, std::size_t from, bool utf16)
{
    if (utf16)
        return bytes.size();
    for (std::size_t i = from; i < bytes.size(); ++i) {
        ByteView rest = bytes.subspan(i);
        if (startsWith(rest, kUtf16LeMark) ||
            (i > from && bytes[i - 1] == '\n' && startsWith(rest, kUtf8Mark)))
            return i;
    }
    return bytes.size();
}

// The file's text in UTF-8. A person may append a .reg export to the settings file: a
// regedit export in UTF-16 after text of this system, say. So the bytes are split where
// a byte order mark starts, and each part is decoded in the encoding its mark names (a
// part without one is UTF-8); a part that does not end its last line gets a line break.
std::string decodeRegText(ByteView bytes)
{
    std::string text;
    std::size_t start = 0;
    while (start < bytes.size()) {
        ByteView rest = bytes.subspan(start);
        const bool utf16 = startsWith(rest, kUtf16LeMark);
        const std::size_t markSize = utf16                         ? kUtf16LeMark.size()
                                     : startsWith(rest, kUtf8Mark) ? kUtf8Mark.size()
                                                                   : 0;
        const std::size_t end = partEnd(bytes, start + markSize, utf16);
        ByteView part = bytes.subspan(start + markSize, end - start - markSize);
        if (!text.empty() && text.back() != '\n')
            text += '\n';
        text += utf16 ? utf16LeToUtf8(part) : asString(part);
        start = end;
    }
    return text;
}

std::string_view trimmed(std::string_view text)
{
    std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos)
        return {};
    std::size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

char asciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return asciiUpper(x) == asciiUpper(y); });
}

std::optional<unsigned> hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    c = asciiUpper(c);
    if (c >= 'A' && c <= 'F')
        return static_cast<unsigned>(c - 'A' + 10);
    return std::nullopt;
}

// 1 to maxDigits hexadecimal digits, nothing else.
std::optional<std::uint32_t> parseHexNumber(std::string_view text, std::size_t maxDigits)
{
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        auto digit = hexDigitValue(c);
        if (!digit)
            return std::nullopt;
        value = (value << 4) | *digit;
    }
    return value;
}

// A quoted name or string: "..." with \\ and \" as escapes. A backslash before any other
// character is kept as it stands, so a hand-typed "C:\Palm" means what it says.
// Returns the text and the rest of the line after the closing quote.
std::optional<std::pair<std::string, std::string_view>> parseQuoted(std::string_view text)
{
    if (text.empty() || text.front() != '"')
        return std::nullopt;
    std::string out;
    for (std::size_t i = 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"')
            return std::make_pair(std::move(out), text.substr(i + 1));
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
            out += text[++i];
            continue;
        }
        out += c;
    }
    return std::nullopt;
}

// "01,02,ff" with optional blanks; an empty list is no bytes.
std::optional<Bytes> parseHexList(std::string_view text)
{
    Bytes bytes;
    text = trimmed(text);
    if (text.empty())
        return bytes;
    while (true) {
        std::size_t comma = text.find(',');
        std::string_view item = trimmed(text.substr(0, comma));
        auto value = parseHexNumber(item, 2);
        if (!value)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(*value));
        if (comma == std::string_view::npos)
            return bytes;
        text = text.substr(comma + 1);
        if (trimmed(text).empty())
            return bytes; // regedit leaves a comma before a continuation
    }
}

// The full path of a key line's text between the brackets: a known root, then the
// sub-key with empty parts dropped. HKEY_CLASSES_ROOT keys go under the machine's classes.
std::optional<std::string> canonicalKeyPath(std::string_view text)
{
    std::string path;
    std::size_t start = 0;
    bool first = true;
    while (start <= text.size()) {
        std::size_t end = text.find('\\', start);
        std::string_view part = text.substr(start, end == std::string_view::npos ? end : end - start);
        if (first) {
            part = trimmed(part);
            auto root = std::find_if(kKeptRoots.begin(), kKeptRoots.end(),
                                     [&](std::string_view name) { return equalsNoCase(name, part); });
            if (root != kKeptRoots.end())
                path = *root;
            else if (equalsNoCase(part, kClassesRootName))
                path = kMachineClassesKey;
            else
                return std::nullopt;
            first = false;
        } else if (!part.empty()) {
            path += '\\';
            path += part;
        }
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return path;
}

Bytes numberBytes(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

struct ParsedValue {
    std::string name;
    std::optional<RegistryValue> value; // empty for "name"=- (a deletion)
};

// One value line (with its continuations joined). Returns an error message on failure.
Result<ParsedValue> parseValueLine(std::string_view line)
{
    ParsedValue parsed;
    std::string_view rest;
    if (line.front() == '@') {
        rest = line.substr(1);
    } else {
        auto name = parseQuoted(line);
        if (!name)
            return Error{"the value name has no closing quote"};
        parsed.name = std::move(name->first);
        rest = name->second;
    }
    rest = trimmed(rest);
    if (rest.empty() || rest.front() != '=')
        return Error{"'=' is missing after the value name"};
    rest = trimmed(rest.substr(1));

    if (rest == "-")
        return parsed;
    if (!rest.empty() && rest.front() == '"') {
        auto text = parseQuoted(rest);
        if (!text)
            return Error{"the text has no closing quote"};
        if (!trimmed(text->second).empty())
            return Error{"there is more after the closing quote"};
        parsed.value = RegistryValue{RegistryValueType::String,
                                     Bytes(asBytes(text->first).begin(), asBytes(text->first).end())};
        return parsed;
    }
    std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos)
        return Error{"the value is neither \"text\", dword: nor hex:"};
    std::string_view kind = trimmed(rest.substr(0, colon));
    std::string_view data = rest.substr(colon + 1);
    if (equalsNoCase(kind, "dword")) {
        auto number = parseHexNumber(trimmed(data), 8);
        if (!number)
            return Error{"dword: needs 1 to 8 hexadecimal digits"};
        parsed.value = RegistryValue{RegistryValueType::Number32, numberBytes(*number)};
        return parsed;
    }
    RegistryValueType type = RegistryValueType::Binary;
    if (kind.size() > 5 && equalsNoCase(kind.substr(0, 4), "hex(") && kind.back() == ')') {
        auto number = parseHexNumber(kind.substr(4, kind.size() - 5), 8);
        if (!number)
            return Error{"hex(...) needs a hexadecimal type number"};
        type = static_cast<RegistryValueType>(*number);
    } else if (!equalsNoCase(kind, "hex")) {
        return Error{"unknown value kind \"" + std::string(kind) + "\""};
    }
    auto bytes = parseHexList(data);
    if (!bytes)
        return Error{"the hex list holds something other than two-digit bytes"};
    parsed.value = RegistryValue{type, std::move(*bytes)};
    return parsed;
}

// Whether a value line holds a hex list, which may continue on the following lines.
bool isHexValueLine(std::string_view line)
{
    std::string_view rest;
    if (line.front() == '@') {
        rest = line.substr(1);
    } else {
        auto name = parseQuoted(line);
        if (!name)
            return false;
        rest = name->second;
    }
    rest = trimmed(rest);
    if (rest.empty() || rest.front() != '=')
        return false;
    rest = trimmed(rest.substr(1));
    return rest.size() >= 3 && equalsNoCase(rest.substr(0, 3), "hex");
}

void setValueIn(RegistryFileKey& key, ParsedValue parsed, std::vector<std::string> comments)
{
    auto same = std::find_if(key.values.begin(), key.values.end(),
                             [&](const RegistryFileValue& v) { return equalsNoCase(v.name, parsed.name); });
    if (!parsed.value) {
        if (same != key.values.end())
            key.values.erase(same);
        return;
    }
    if (same != key.values.end()) {
        same->value = std::move(*parsed.value);
        return;
    }
    key.values.push_back({std::move(parsed.name), std::move(*parsed.value), std::move(comments)});
}

std::vector<std::string> splitLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.emplace_back(line);
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return lines;
}

std::string problemAt(std::size_t lineNumber, std::string_view what)
{
    return "line " + std::to_string(lineNumber) + ": " + std::string(what);
}

// Text that a quoted string can carry: no control characters, no 0 byte.
bool fitsQuotedString(ByteView bytes)
{
    return std::none_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b < 0x20 || b == 0x7F; });
}

std::string regQuoted(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string hexByte(std::uint8_t byte)
{
    static constexpr char digits[] = "0123456789abcdef";
    return {digits[byte >> 4], digits[byte & 0x0F]};
}

std::string hexTypeNumber(std::uint32_t number)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), digits[number & 0x0F]);
        number >>= 4;
    } while (number != 0);
    return out;
}

std::string formatValueLine(const RegistryFileValue& entry)
{
    std::string line = entry.name.empty() ? "@=" : regQuoted(entry.name) + "=";
    const RegistryValue& value = entry.value;
    if (value.type == RegistryValueType::String && fitsQuotedString(value.data))
        return line + regQuoted(asString(value.data));
    if (value.type == RegistryValueType::Number32 && value.data.size() == 4) {
        std::string digits;
        for (std::size_t i = 4; i-- > 0;)
            digits += hexByte(value.data[i]);
        return line + "dword:" + digits;
    }
    line += value.type == RegistryValueType::Binary
                ? std::string("hex:")
                : "hex(" + hexTypeNumber(static_cast<std::uint32_t>(value.type)) + "):";
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        line += hexByte(value.data[i]);
        if (i + 1 == value.data.size())
            break;
        line += ',';
        if (line.size() - lineStart + 3 > kHexLineWidth) {
            line += "\\\n  ";
            lineStart = line.size() - 2;
        }
    }
    return line;
}

} // namespace

RegFileParse parseRegFile(ByteView bytes)
{
    RegFileParse result;
    const std::string text = decodeRegText(bytes);

    if (text.find('\0') != std::string::npos) {
        result.problems.push_back("the file holds 0 bytes: it is not a text file");
        return result;
    }
    std::vector<std::string> lines = splitLines(text);
    std::size_t index = 0;
    while (index < lines.size() && trimmed(lines[index]).empty())
        ++index;
    if (index == lines.size()) {
        result.problems.push_back("the file is empty: the first line should be \"" +
                                  std::string(kRegFileHeader) + "\"");
        return result;
    }
    auto isHeaderLine = [](std::string_view line) {
        return line == kRegFileHeader || line == kRegFileHeaderVersion4;
    };
    if (!isHeaderLine(trimmed(lines[index]))) {
        result.problems.push_back(
            problemAt(index + 1, "the first line should be \"" + std::string(kRegFileHeader) + "\""));
        return result;
    }

    RegistryFileContents& contents = result.contents;
    std::vector<std::string> comments;
    std::optional<std::string> currentKey; // empty while values are to be passed over
    bool sawKeyLine = false;
    for (++index; index < lines.size(); ++index) {
        const std::size_t lineNumber = index + 1;
        std::string_view line = trimmed(lines[index]);
        if (line.empty())
            continue;
        if (line.front() == ';') {
            comments.emplace_back(line);
            continue;
        }
        // The first line of an export appended to the file.
        if (isHeaderLine(line))
            continue;
        if (line.front() == '[') {
            currentKey.reset();
            sawKeyLine = true;
            if (line.back() != ']') {
                result.problems.push_back(problemAt(lineNumber, "the key line has no closing ']'"));
                continue;
            }
            std::string_view inner = line.substr(1, line.size() - 2);
            bool deletion = !inner.empty() && inner.front() == '-';
            auto path = canonicalKeyPath(deletion ? inner.substr(1) : inner);
            if (!path) {
                result.problems.push_back(
                    problemAt(lineNumber, "unknown root in \"" + std::string(inner) + "\""));
                continue;
            }
            if (deletion) {
                comments.clear();
                continue;
            }
            RegistryFileKey& key = contents.addKey(*path);
            key.comments.insert(key.comments.end(), comments.begin(), comments.end());
            comments.clear();
            currentKey = key.path;
            continue;
        }
        if (line.front() != '"' && line.front() != '@') {
            result.problems.push_back(problemAt(lineNumber, "not a key, a value or a comment"));
            continue;
        }
        // Hex lists may run on over lines that end in a backslash.
        std::string joined(line);
        const bool hexList = isHexValueLine(line);
        while (hexList && !joined.empty() && joined.back() == '\\' && index + 1 < lines.size()) {
            joined.pop_back();
            joined += trimmed(lines[++index]);
        }
        if (!currentKey) {
            comments.clear();
            if (!sawKeyLine)
                result.problems.push_back(problemAt(lineNumber, "a value before the first key"));
            continue;
        }
        auto parsed = parseValueLine(joined);
        if (!parsed) {
            result.problems.push_back(problemAt(lineNumber, parsed.error()));
            comments.clear();
            continue;
        }
        setValueIn(*contents.findKey(*currentKey), std::move(parsed.value()), std::move(comments));
        comments.clear();
    }
    contents.trailingComments = std::move(comments);
    return result;
}

Bytes formatRegFile(const RegistryFileContents& contents)
{
    std::string text(kRegFileHeader);
    text += "\n\n";
    for (const RegistryFileKey& key : contents.keys) {
        for (const std::string& comment : key.comments)
            text += comment + "\n";
        text += "[" + key.path + "]\n";
        for (const RegistryFileValue& value : key.values) {
            for (const std::string& comment : value.comments)
                text += comment + "\n";
            text += formatValueLine(value) + "\n";
        }
        text += "\n";
    }
    for (const std::string& comment : contents.trailingComments)
        text += comment + "\n";
    return Bytes(asBytes(text).begin(), asBytes(text).end());
}

} // namespace chwr
