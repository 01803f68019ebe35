#pragma once

#include "shell/bytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace chwr::test {

// Builds ring tone databases and MIDI files byte by byte, so tests state their inputs
// as the handheld lays them out instead of as hex blobs.

// The fields of a 78-byte Palm database header that tests vary.
struct PdbHeaderFields {
    std::string name = "MIDI Ring Tones";
    std::uint16_t attrib = 0x0008;
    std::uint16_t version = 1;
    std::uint32_t creationdate = 0xB8F1A2C0;
    std::uint32_t moddate = 0xB9000000;
    std::uint32_t lastbackup = 0xB9000100;
    std::uint32_t modnumber = 5;
    std::uint32_t app = 0;
    std::uint32_t sort = 0;
    std::string type = "Tone";
    std::string creator = "Test";
    std::uint32_t unique = 0x00003AFF;
    std::uint32_t next = 0;
    std::uint16_t records = 0;
};

// The header: name padded with NULs to 32 bytes, type and creator to 4, numbers big-endian.
Bytes pdbHeader(const PdbHeaderFields& fields);
// One record list entry: offset, attribute byte, 24-bit unique ID.
Bytes recordListEntry(std::uint32_t offset, std::uint8_t attributes = 0x40,
                      std::uint32_t uniqueId = 0x003A98);
// One ring tone record: "PMrc", dataOffset (name length + 7), 0x00, name, 0x00, data.
Bytes toneRecord(const std::string& name, ByteView data);

// A Standard MIDI File of exactly `size` bytes (at least 30): a format 0 header and one
// track holding a text event that pads it, then the end-of-track event FF 2F 00.
Bytes midiFileOfSize(std::size_t size);

// A database with its ring tones, laid out as the system writes one (each record led by
// a 0x00, the first at 80 + 8 N) or as other software writes one (records back to back
// after the record list, no separating bytes).
class PdbBuilder {
public:
    PdbBuilder& modnumber(std::uint32_t value)
    {
        m_fields.modnumber = value;
        return *this;
    }
    PdbBuilder& ringTone(const std::string& name, ByteView data)
    {
        m_tones.push_back({name, Bytes(data.begin(), data.end())});
        return *this;
    }
    // Info blocks placed after the record list's 0x00, application info first; the
    // header's app and sort offsets point at them.
    PdbBuilder& appInfo(ByteView block)
    {
        m_appInfo.emplace(block.begin(), block.end());
        return *this;
    }
    PdbBuilder& sortInfo(ByteView block)
    {
        m_sortInfo.emplace(block.begin(), block.end());
        return *this;
    }

    Bytes build() const { return assemble(true); }
    Bytes buildBackToBack() const { return assemble(false); }

private:
    struct Tone {
        std::string name;
        Bytes data;
    };
    Bytes assemble(bool separators) const;

    PdbHeaderFields m_fields;
    std::vector<Tone> m_tones;
    std::optional<Bytes> m_appInfo;
    std::optional<Bytes> m_sortInfo;
};

// A database as the system writes one: these ring tones (name, data as text), the
// modnumber and the info blocks given.
Bytes pdb(const std::vector<std::pair<std::string, std::string>>& tones, std::uint32_t modnumber = 5,
          const char* app = nullptr, const char* sort = nullptr);

// Bytes from text, for names and small data.
Bytes bytesOf(const std::string& text);
// Concatenation, for building files from parts.
Bytes concat(std::initializer_list<ByteView> parts);

} // namespace chwr::test
