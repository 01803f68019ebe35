#pragma once

#include "ringtone_db/palm_values.h"
#include "shell/bytes.h"
#include "shell/result.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace chwr {

// The handheld's ring tone database, a Palm database: a 78-byte header, a record list of
// 8-byte entries, one 0x00 byte, then each ring tone record led by one 0x00 byte.

// Bytes of the PdbHeader at the start of the file.
inline constexpr std::size_t kPdbHeaderSize = 78;
// Bytes of one RecordListEntry; the list starts right after the header.
inline constexpr std::size_t kRecordListEntrySize = 8;
// "PMrc": the first four bytes of every ring tone record.
inline constexpr std::array<std::uint8_t, 4> kToneSignature = {0x50, 0x4D, 0x72, 0x63};
// Bytes of a ring tone record besides its name and data: signature, dataOffset,
// reserved byte and the name's terminator. dataOffset = name length + this.
inline constexpr std::size_t kToneRecordOverhead = 7;
// dataOffset is one byte, so a name holds at most 255 - 7 bytes.
inline constexpr std::size_t kMaxToneNameBytes = 255 - kToneRecordOverhead;
// "@": the byte the system appends to the MIDI data of every ring tone it adds.
inline constexpr std::uint8_t AddedMark = 0x40;
// The Palm record attribute bit that marks a modified record; written for every record.
inline constexpr std::uint8_t kModifiedRecordAttribute = 0x40;
// Unique IDs are a 24-bit counter that starts at 00 3A 98.
inline constexpr std::uint32_t kFirstUniqueId = 0x003A98;
// The record count is a 16-bit field.
inline constexpr std::size_t kMaxRingTones = 0xFFFF;
// Record offsets are read as signed 32-bit numbers, so a file stays below 2^31 bytes.
inline constexpr std::size_t kMaxDatabaseBytes = 0x7FFFFFFF;
// The largest Standard MIDI File that becomes a ring tone (the user is told "64k").
inline constexpr std::size_t kMaxMidiFileBytes = 64000;

// The system's messages about ring tones.
inline constexpr const char* kNoRingTonesLoadedMessage = "No MIDI Ring Tones loaded.";
inline constexpr const char* kMidiFileTooLargeMessage =
    "This MIDI file is larger than 64k and cannot be imported.";

// The 78-byte Palm database header, each field kept as the bytes read so that a write
// puts back exactly what it does not change.
struct PdbHeader {
    std::array<std::uint8_t, 32> name{};
    std::array<std::uint8_t, 2> attrib{};
    std::array<std::uint8_t, 2> version{};
    std::array<std::uint8_t, 4> creationdate{};
    std::array<std::uint8_t, 4> moddate{};
    std::array<std::uint8_t, 4> lastbackup{};
    std::array<std::uint8_t, 4> modnumber{};
    std::array<std::uint8_t, 4> app{};
    std::array<std::uint8_t, 4> sort{};
    std::array<std::uint8_t, 4> type{};
    std::array<std::uint8_t, 4> creator{};
    std::array<std::uint8_t, 4> unique{};
    std::array<std::uint8_t, 4> next{};
    std::array<std::uint8_t, 2> records{};

    // The header at the start of the file; a file shorter than the header is refused.
    static Result<PdbHeader> decode(ByteView file);
    void appendTo(Bytes& out) const;

    std::uint16_t recordCount() const;
    void setRecordCount(std::uint16_t count);
    std::uint32_t modificationNumber() const;
    void setModificationNumber(std::uint32_t number);
    std::uint32_t appInfoOffset() const;
    void setAppInfoOffset(std::uint32_t offset);
    std::uint32_t sortInfoOffset() const;
    void setSortInfoOffset(std::uint32_t offset);
};

// One entry of the record list.
struct RecordListEntry {
    // File offset of the record's first byte; negative values are never valid.
    std::int32_t recordOffset = 0;
    std::uint8_t recordAttributes = 0;
    // 24 bits.
    std::uint32_t recordUniqueId = 0;

    // The entry at an offset of the file.
    static Result<RecordListEntry> decode(ByteView file, std::size_t offset);
    void appendTo(Bytes& out) const;
};

// One ring tone: its name (Windows-1252 bytes, no NUL) and its MIDI data. The data of
// a ring tone is the first `size` bytes of `data`.
struct RingToneRecord {
    Bytes name;
    std::int32_t size = 0;
    Bytes data;

    ByteView midiData() const;
    // True when the data ends with the AddedMark, whoever added the ring tone.
    bool carriesAddedMark() const;
};

// The loaded database: header, ring tones in file order, and the application and sort
// info blocks when the header names them. A default-constructed database is "nothing
// loaded": it refuses additions and writes.
class RingToneDatabase {
public:
    RingToneDatabase() = default;

    // Cuts the file as the handheld's loader does: each record's span runs from the byte
    // before it up to the byte before the next record. Refuses, with what is wrong, a
    // file that is too short, a record list or offset beyond the file, and a record
    // whose name has no terminating 0x00. Spans of 6 bytes or fewer are skipped, as is
    // the empty record at the file's very end. An application or sort info offset into
    // the header or record list is stale (other writers leave such offsets): the block
    // is taken as absent and the next write writes none.
    static Result<RingToneDatabase> decode(ByteView file);

    // The bytes of the next write: the header with `records` = the ring tone count and
    // `modnumber` + 1, the record list, 0x00, any info blocks, then the records. Refuses
    // a list that the format cannot hold, before anything is written.
    Result<Bytes> encode() const;
    // Records a successful write in the header the next write starts from.
    void markWritten();

    bool isLoaded() const { return m_loaded; }
    const PdbHeader& header() const { return m_header; }
    const std::vector<RingToneRecord>& ringTones() const { return m_ringTones; }
    const std::optional<Bytes>& appInfo() const { return m_appInfo; }
    const std::optional<Bytes>& sortInfo() const { return m_sortInfo; }

    // Appends a ring tone made from a Standard MIDI File: its bytes plus the AddedMark.
    // Returns the new ring tone's index (from 0).
    Result<std::size_t> addRingTone(ByteView name, ByteView midiFile);
    Result<void> removeRingTone(std::size_t index);
    // The name as given, within the name limit.
    Result<void> renameRingTone(std::size_t index, ByteView name);

    // True when a ring tone has exactly this name (bytes compared, case-sensitive).
    bool hasRingToneNamed(ByteView name) const;
    // stem when no ring tone has that name, else the first stem + " (n)" free, n >= 1.
    Bytes uniqueRingToneName(ByteView stem) const;

private:
    Result<PdbHeader> headerForWrite() const;

    bool m_loaded = false;
    PdbHeader m_header;
    std::vector<RingToneRecord> m_ringTones;
    std::optional<Bytes> m_appInfo;
    std::optional<Bytes> m_sortInfo;
};

// Checks a ring tone name against what a record can hold; the message says why not.
Result<void> checkRingToneName(ByteView name);

} // namespace chwr
