#pragma once

#include "midi_edit/smf_format.h"
#include "shell/bytes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace chwr::smf {

// How a bounds-checked read of a variable-length quantity ended.
enum class VlqRead { Ok, Truncated, TooLong };

// A forward-only reader over the bytes of a Standard MIDI File. Every read checks the
// end of the bytes first; nothing is read past it.
class SmfCursor {
public:
    explicit SmfCursor(ByteView bytes, std::size_t offset = 0)
        : m_begin(bytes.data()), m_next(bytes.data() + offset), m_end(bytes.data() + bytes.size())
    {
    }

    bool atEnd() const { return m_next == m_end; }
    std::size_t position() const { return static_cast<std::size_t>(m_next - m_begin); }
    std::size_t remaining() const { return static_cast<std::size_t>(m_end - m_next); }
    const std::uint8_t* here() const { return m_next; }

    bool readByte(std::uint8_t& byte)
    {
        if (m_next == m_end)
            return false;
        byte = *m_next++;
        return true;
    }

    // Moves past count bytes; false (without moving) when fewer are left.
    bool skip(std::size_t count)
    {
        if (remaining() < count)
            return false;
        m_next += count;
        return true;
    }

    // Goes back to a position this cursor has passed, to read an event again.
    void rewind(const std::uint8_t* position)
    {
        if (position >= m_begin && position <= m_next)
            m_next = position;
    }

    // A variable-length quantity of one to four bytes, most significant group first.
    VlqRead readVariableLengthQuantity(std::uint32_t& value)
    {
        std::uint32_t result = 0;
        for (int i = 0; i < kVlqMaxBytes; ++i) {
            if (m_next == m_end)
                return VlqRead::Truncated;
            std::uint8_t byte = *m_next++;
            result = (result << kVlqPayloadBits) | (byte & kVlqPayloadMask);
            if ((byte & kVlqContinuation) == 0) {
                value = result;
                return VlqRead::Ok;
            }
        }
        return VlqRead::TooLong;
    }

private:
    const std::uint8_t* m_begin;
    const std::uint8_t* m_next;
    const std::uint8_t* m_end;
};

// A 16-bit big-endian number at offset; the caller has checked the bounds.
inline std::uint16_t bigEndian16At(ByteView bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
}

// A 32-bit big-endian number (a chunk's length) at p.
inline std::uint32_t bigEndian32At(const std::uint8_t* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// A 24-bit big-endian number (a Set Tempo's microseconds) at p.
inline std::uint32_t bigEndian24At(const std::uint8_t* p)
{
    return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
}

// Writes a 16-bit big-endian number (the header's track count) at out.
inline void writeBigEndian16(std::uint16_t value, std::uint8_t* out)
{
    out[0] = static_cast<std::uint8_t>(value >> 8);
    out[1] = static_cast<std::uint8_t>(value);
}

// Writes a 32-bit big-endian number (a track chunk's length) at out.
inline void writeBigEndian32(std::uint32_t value, std::uint8_t* out)
{
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}

// Moves past the chunks of other kinds in front of a track chunk, as the format asks
// readers to: each whose id is four printable ASCII characters other than "MTrk" and
// whose length keeps it inside the file. Anything else is left where it is, to be read
// as a track chunk (whose id and length the walk does not check).
inline void skipOtherChunks(SmfCursor& cursor)
{
    auto printable = [](std::uint8_t byte) {
        return byte >= kFirstPrintableAscii && byte <= kLastPrintableAscii;
    };
    while (cursor.remaining() >= kTrackChunkHeaderSize) {
        const std::uint8_t* id = cursor.here();
        if (std::equal(id, id + kChunkIdSize, kTrackChunkId.begin(), kTrackChunkId.end()) ||
            !std::all_of(id, id + kChunkIdSize, printable))
            return;
        const std::uint32_t length = bigEndian32At(id + kChunkIdSize);
        if (length > cursor.remaining() - kTrackChunkHeaderSize)
            return;
        cursor.skip(kTrackChunkHeaderSize + length);
    }
}

} // namespace chwr::smf
