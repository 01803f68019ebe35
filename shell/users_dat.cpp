#include "shell/users_dat.h"

#include "shell/file_io.h"
#include "shell/windows1252.h"

#include <algorithm>

namespace chwr {

namespace {

// Reads users.dat front to back. A read past the end yields what is there (zero for
// a missing number), as Palm Desktop's own short records are taken.
class UsersDatCursor {
public:
    explicit UsersDatCursor(ByteView bytes) : m_bytes(bytes) {}

    bool atEnd() const { return m_offset >= m_bytes.size(); }
    void skip(std::size_t count) { m_offset += std::min(count, remaining()); }

    std::uint8_t readByte()
    {
        if (atEnd())
            return 0;
        return m_bytes[m_offset++];
    }
    std::uint16_t readUint16Le()
    {
        std::uint16_t low = readByte();
        std::uint16_t high = readByte();
        return static_cast<std::uint16_t>(low | (high << 8));
    }
    std::int16_t readInt16Le() { return static_cast<std::int16_t>(readUint16Le()); }

    // Up to count bytes, fewer at the end of the file.
    std::string readText(std::size_t count)
    {
        count = std::min(count, remaining());
        std::string text = asString(m_bytes.subspan(m_offset, count));
        m_offset += count;
        return text;
    }

private:
    std::size_t remaining() const { return atEnd() ? 0 : m_bytes.size() - m_offset; }
    ByteView m_bytes;
    std::size_t m_offset = 0;
};

// 4 bytes skipped, then the name and the directory name, each after a 1-byte length.
HotSyncUser readUserRecord(UsersDatCursor& cursor)
{
    HotSyncUser user;
    cursor.skip(kUserRecordSkippedBytes);
    user.name = windows1252ToUtf8(asBytes(cursor.readText(cursor.readByte())));
    user.directoryName = windows1252ToUtf8(asBytes(cursor.readText(cursor.readByte())));
    return user;
}

void addUser(std::vector<HotSyncUser>& users, HotSyncUser user)
{
    if (!user.directoryName.empty())
        users.push_back(std::move(user));
}

} // namespace

std::vector<HotSyncUser> parseUsersDat(ByteView bytes)
{
    std::vector<HotSyncUser> users;
    UsersDatCursor cursor(bytes);
    cursor.skip(2);
    if (cursor.readUint16Le() == kUsersDatTextMarker) {
        cursor.skip(2);
        std::int16_t textLength = cursor.readInt16Le();
        if (textLength > 0)
            cursor.skip(static_cast<std::size_t>(textLength));
    }
    addUser(users, readUserRecord(cursor));

    // The byte after a 0x01 is consumed whatever it is, so 0x01 0x01 0x80 is no signature.
    while (!cursor.atEnd()) {
        if (cursor.readByte() != kUserSignatureFirst || cursor.atEnd())
            continue;
        if (cursor.readByte() == kUserSignatureSecond)
            addUser(users, readUserRecord(cursor));
    }
    return users;
}

std::vector<HotSyncUser> readHotSyncUsers(const std::filesystem::path& palmDesktopDirectory)
{
    if (palmDesktopDirectory.empty())
        return {};
    auto bytes = readFileBytes(palmDesktopDirectory / kUsersDatName, kMaxUsersDatBytes);
    if (!bytes)
        return {};
    return parseUsersDat(*bytes);
}

std::vector<std::string> userDirectoryNames(const std::vector<HotSyncUser>& users)
{
    std::vector<std::string> names;
    names.reserve(users.size());
    for (const HotSyncUser& user : users)
        names.push_back(user.directoryName);
    return names;
}

} // namespace chwr
