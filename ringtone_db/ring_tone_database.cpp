#include "ringtone_db/ring_tone_database.h"

#include <algorithm>
#include <string>

namespace chwr {

namespace {

// Spans of this many bytes or fewer hold no ring tone.
constexpr std::int64_t kLongestSkippedSpan = 6;
// The name starts at the eighth byte of a span (0-based 7): after the byte before the
// record, the signature, dataOffset and the reserved byte.
constexpr std::size_t kNameStartInSpan = 1 + kToneSignature.size() + 2;
// The byte between the record list and the records, and before each record.
constexpr std::uint8_t kSeparator = 0x00;

template <std::size_t N>
void copyField(ByteView file, std::size_t& offset, std::array<std::uint8_t, N>& field)
{
    std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset), N, field.begin());
    offset += N;
}

template <std::size_t N> void appendField(Bytes& out, const std::array<std::uint8_t, N>& field)
{
    out.insert(out.end(), field.begin(), field.end());
}

template <std::size_t N> std::uint32_t fieldValue(const std::array<std::uint8_t, N>& field)
{
    std::uint32_t value = 0;
    for (std::uint8_t byte : field)
        value = (value << 8) | byte;
    return value;
}

void setField(std::array<std::uint8_t, 4>& field, std::uint32_t value)
{
    Bytes bytes;
    appendUint32BigEndian(bytes, value);
    std::copy(bytes.begin(), bytes.end(), field.begin());
}

std::string number(std::int64_t value)
{
    return std::to_string(value);
}

// An application or sort info offset that points into the header or the record list is
// stale: other writers leave one behind when they drop the block. The block is taken as
// absent (0), so the next write writes none.
std::uint32_t withoutStaleOffset(std::uint32_t offset, std::size_t listEnd)
{
    return offset < listEnd ? 0 : offset;
}

// The application or sort info block offset must lie inside the file, and no further
// than the first record.
Result<void> checkInfoOffset(const char* what, std::uint32_t offset, std::size_t firstRecord,
                             std::size_t fileSize)
{
    const std::string prefix = std::string("The ") + what + " info offset " + number(offset);
    if (offset >= fileSize)
        return Error{prefix + " is at or beyond the end of the file (" + number(fileSize) + " bytes)"};
    if (offset > firstRecord)
        return Error{prefix + " is beyond the first record (at " + number(firstRecord) + ")"};
    return {};
}

} // namespace

Result<PdbHeader> PdbHeader::decode(ByteView file)
{
    if (file.size() < kPdbHeaderSize) {
        return Error{"The file is shorter than a Palm database header: it has " + number(file.size()) +
                     " bytes, the header alone " + number(kPdbHeaderSize)};
    }
    PdbHeader header;
    std::size_t offset = 0;
    copyField(file, offset, header.name);
    copyField(file, offset, header.attrib);
    copyField(file, offset, header.version);
    copyField(file, offset, header.creationdate);
    copyField(file, offset, header.moddate);
    copyField(file, offset, header.lastbackup);
    copyField(file, offset, header.modnumber);
    copyField(file, offset, header.app);
    copyField(file, offset, header.sort);
    copyField(file, offset, header.type);
    copyField(file, offset, header.creator);
    copyField(file, offset, header.unique);
    copyField(file, offset, header.next);
    copyField(file, offset, header.records);
    return header;
}

void PdbHeader::appendTo(Bytes& out) const
{
    appendField(out, name);
    appendField(out, attrib);
    appendField(out, version);
    appendField(out, creationdate);
    appendField(out, moddate);
    appendField(out, lastbackup);
    appendField(out, modnumber);
    appendField(out, app);
    appendField(out, sort);
    appendField(out, type);
    appendField(out, creator);
    appendField(out, unique);
    appendField(out, next);
    appendField(out, records);
}

std::uint16_t PdbHeader::recordCount() const
{
    return static_cast<std::uint16_t>(fieldValue(records));
}

void PdbHeader::setRecordCount(std::uint16_t count)
{
    records = {static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count)};
}

std::uint32_t PdbHeader::modificationNumber() const
{
    return fieldValue(modnumber);
}

void PdbHeader::setModificationNumber(std::uint32_t number)
{
    setField(modnumber, number);
}

std::uint32_t PdbHeader::appInfoOffset() const
{
    return fieldValue(app);
}

void PdbHeader::setAppInfoOffset(std::uint32_t offset)
{
    setField(app, offset);
}

std::uint32_t PdbHeader::sortInfoOffset() const
{
    return fieldValue(sort);
}

void PdbHeader::setSortInfoOffset(std::uint32_t offset)
{
    setField(sort, offset);
}

Result<RecordListEntry> RecordListEntry::decode(ByteView file, std::size_t offset)
{
    Result<std::uint32_t> recordOffset = readUint32BigEndian(file, offset);
    Result<std::uint32_t> uniqueId = readUint24BigEndian(file, offset + 5);
    if (!recordOffset || !uniqueId)
        return Error{"The record list entry at offset " + number(offset) +
                     " lies beyond the end of the file"};
    RecordListEntry entry;
    entry.recordOffset = static_cast<std::int32_t>(*recordOffset);
    entry.recordAttributes = file[offset + 4];
    entry.recordUniqueId = *uniqueId;
    return entry;
}

void RecordListEntry::appendTo(Bytes& out) const
{
    appendUint32BigEndian(out, static_cast<std::uint32_t>(recordOffset));
    out.push_back(recordAttributes);
    appendUint24BigEndian(out, recordUniqueId);
}

ByteView RingToneRecord::midiData() const
{
    const std::size_t length = std::clamp<std::int64_t>(size, 0, static_cast<std::int64_t>(data.size()));
    return ByteView(data).first(length);
}

bool RingToneRecord::carriesAddedMark() const
{
    ByteView bytes = midiData();
    return !bytes.empty() && bytes.back() == AddedMark;
}

Result<void> checkRingToneName(ByteView name)
{
    if (name.size() > kMaxToneNameBytes) {
        return Error{"The ring tone name is " + number(name.size()) +
                     " bytes long; a ring tone name holds at most " + number(kMaxToneNameBytes) + " bytes."};
    }
    return {};
}

Result<RingToneDatabase> RingToneDatabase::decode(ByteView file)
{
    Result<PdbHeader> header = PdbHeader::decode(file);
    if (!header)
        return Error{header.error()};
    const std::size_t fileSize = file.size();
    const std::size_t count = header->recordCount();
    const std::size_t listEnd = kPdbHeaderSize + kRecordListEntrySize * count;
    if (listEnd > fileSize) {
        return Error{"The record list of " + number(count) + " entries runs past the end of the file (" +
                     number(fileSize) + " bytes)"};
    }

    // Offsets of the records, and the file length plus 1 after the last one.
    std::vector<std::int64_t> offsets;
    offsets.reserve(count + 1);
    for (std::size_t i = 0; i < count; ++i) {
        Result<RecordListEntry> entry =
            RecordListEntry::decode(file, kPdbHeaderSize + kRecordListEntrySize * i);
        if (!entry)
            return Error{entry.error()};
        const std::string which = "Record " + number(static_cast<std::int64_t>(i) + 1);
        if (entry->recordOffset < 0) {
            return Error{which + " has the offset " +
                         number(static_cast<std::uint32_t>(entry->recordOffset)) +
                         ", which is negative as a signed 32-bit number"};
        }
        // A record at the very end of the file is empty: its span is skipped below.
        if (static_cast<std::size_t>(entry->recordOffset) > fileSize) {
            return Error{which + " starts at offset " + number(entry->recordOffset) +
                         ", beyond the end of the file (" + number(fileSize) + " bytes)"};
        }
        offsets.push_back(entry->recordOffset);
    }
    offsets.push_back(static_cast<std::int64_t>(fileSize) + 1);

    RingToneDatabase database;
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t spanLength = offsets[i + 1] - offsets[i];
        if (spanLength <= kLongestSkippedSpan)
            continue;
        const std::string which = "Record " + number(static_cast<std::int64_t>(i) + 1);
        // The span starts at the byte before the record.
        if (offsets[i] < 1)
            return Error{which + " starts at offset 0, so the byte before it lies outside the file"};
        ByteView span =
            file.subspan(static_cast<std::size_t>(offsets[i] - 1), static_cast<std::size_t>(spanLength));
        auto terminator = span.size() > kNameStartInSpan
                              ? std::find(span.begin() + kNameStartInSpan, span.end(), std::uint8_t{0})
                              : span.end();
        if (terminator == span.end()) {
            return Error{which + " (" + number(spanLength) + " bytes at offset " + number(offsets[i]) +
                         ") has no 0x00 byte that ends its name"};
        }
        RingToneRecord record;
        record.name.assign(span.begin() + kNameStartInSpan, terminator);
        record.data.assign(terminator + 1, span.end());
        record.size = static_cast<std::int32_t>(record.data.size());
        database.m_ringTones.push_back(std::move(record));
    }

    // The info blocks: application info up to the sort info (or the first record),
    // sort info up to the first record.
    const std::uint32_t app = withoutStaleOffset(header->appInfoOffset(), listEnd);
    const std::uint32_t sort = withoutStaleOffset(header->sortInfoOffset(), listEnd);
    const std::size_t firstRecord = count > 0 ? static_cast<std::size_t>(offsets[0]) : fileSize;
    if (app != 0) {
        if (auto checked = checkInfoOffset("application", app, firstRecord, fileSize); !checked)
            return Error{checked.error()};
    }
    if (sort != 0) {
        if (auto checked = checkInfoOffset("sort", sort, firstRecord, fileSize); !checked)
            return Error{checked.error()};
        if (app > sort) {
            return Error{"The application info offset " + number(app) + " lies after the sort info offset " +
                         number(sort)};
        }
    }
    // A block of no bytes is kept as none: written back, its offset would point at the
    // end of a file without records, which the next load refuses.
    if (const std::size_t end = sort != 0 ? sort : firstRecord; app != 0 && end > app)
        database.m_appInfo = Bytes(file.begin() + app, file.begin() + static_cast<std::ptrdiff_t>(end));
    if (sort != 0 && firstRecord > sort)
        database.m_sortInfo =
            Bytes(file.begin() + sort, file.begin() + static_cast<std::ptrdiff_t>(firstRecord));

    database.m_header = *header;
    database.m_loaded = true;
    return database;
}

Result<PdbHeader> RingToneDatabase::headerForWrite() const
{
    if (m_ringTones.size() > kMaxRingTones) {
        return Error{"A ring tone database holds at most " + number(kMaxRingTones) +
                     " ring tones; this one has " + number(m_ringTones.size()) + "."};
    }
    PdbHeader header = m_header;
    header.setRecordCount(static_cast<std::uint16_t>(m_ringTones.size()));
    header.setModificationNumber(m_header.modificationNumber() + 1);
    const std::size_t blocksStart = kPdbHeaderSize + kRecordListEntrySize * m_ringTones.size() + 1;
    const std::size_t appLength = m_appInfo ? m_appInfo->size() : 0;
    header.setAppInfoOffset(m_appInfo ? static_cast<std::uint32_t>(blocksStart) : 0);
    header.setSortInfoOffset(m_sortInfo ? static_cast<std::uint32_t>(blocksStart + appLength) : 0);
    return header;
}

Result<Bytes> RingToneDatabase::encode() const
{
    if (!m_loaded)
        return Error{kNoRingTonesLoadedMessage};
    Result<PdbHeader> header = headerForWrite();
    if (!header)
        return Error{header.error()};

    const bool hasInfoBlocks = m_appInfo || m_sortInfo;
    const std::size_t blocksLength =
        (m_appInfo ? m_appInfo->size() : 0) + (m_sortInfo ? m_sortInfo->size() : 0);
    // Without info blocks every record is led by a 0x00; with them the first record
    // follows the blocks directly.
    std::size_t fileSize = kPdbHeaderSize + kRecordListEntrySize * m_ringTones.size() + 1 + blocksLength;
    for (std::size_t i = 0; i < m_ringTones.size(); ++i) {
        const RingToneRecord& tone = m_ringTones[i];
        if (auto named = checkRingToneName(tone.name); !named)
            return Error{"Ring tone " + number(static_cast<std::int64_t>(i) + 1) + ": " + named.error()};
        const bool leadingSeparator = i > 0 || !hasInfoBlocks;
        fileSize +=
            (leadingSeparator ? 1 : 0) + kToneRecordOverhead + tone.name.size() + tone.midiData().size();
        if (fileSize > kMaxDatabaseBytes) {
            return Error{"The ring tone database would be larger than " + number(kMaxDatabaseBytes) +
                         " bytes, more than a Palm database can address."};
        }
    }

    Bytes out;
    out.reserve(fileSize);
    header->appendTo(out);
    std::size_t offset = kPdbHeaderSize + kRecordListEntrySize * m_ringTones.size() + 1 + blocksLength;
    for (std::size_t i = 0; i < m_ringTones.size(); ++i) {
        const RingToneRecord& tone = m_ringTones[i];
        if (i > 0 || !hasInfoBlocks)
            offset += 1;
        RecordListEntry entry;
        entry.recordOffset = static_cast<std::int32_t>(offset);
        entry.recordAttributes = kModifiedRecordAttribute;
        entry.recordUniqueId = kFirstUniqueId + static_cast<std::uint32_t>(i);
        entry.appendTo(out);
        offset += kToneRecordOverhead + tone.name.size() + tone.midiData().size();
    }
    out.push_back(kSeparator);
    if (m_appInfo)
        out.insert(out.end(), m_appInfo->begin(), m_appInfo->end());
    if (m_sortInfo)
        out.insert(out.end(), m_sortInfo->begin(), m_sortInfo->end());
    for (std::size_t i = 0; i < m_ringTones.size(); ++i) {
        const RingToneRecord& tone = m_ringTones[i];
        if (i > 0 || !hasInfoBlocks)
            out.push_back(kSeparator);
        out.insert(out.end(), kToneSignature.begin(), kToneSignature.end());
        out.push_back(static_cast<std::uint8_t>(tone.name.size() + kToneRecordOverhead));
        out.push_back(0x00);
        out.insert(out.end(), tone.name.begin(), tone.name.end());
        out.push_back(0x00);
        ByteView data = tone.midiData();
        out.insert(out.end(), data.begin(), data.end());
    }
    return out;
}

void RingToneDatabase::markWritten()
{
    if (Result<PdbHeader> header = headerForWrite())
        m_header = *header;
}

Result<std::size_t> RingToneDatabase::addRingTone(ByteView name, ByteView midiFile)
{
    if (!m_loaded)
        return Error{kNoRingTonesLoadedMessage};
    Bytes trimmed = TrimAtNul(name);
    if (auto named = checkRingToneName(trimmed); !named)
        return Error{named.error()};
    if (midiFile.size() > kMaxMidiFileBytes)
        return Error{kMidiFileTooLargeMessage};
    RingToneRecord record;
    record.name = std::move(trimmed);
    record.data.assign(midiFile.begin(), midiFile.end());
    record.data.push_back(AddedMark);
    record.size = static_cast<std::int32_t>(record.data.size());
    m_ringTones.push_back(std::move(record));
    return m_ringTones.size() - 1;
}

Result<void> RingToneDatabase::removeRingTone(std::size_t index)
{
    if (!m_loaded)
        return Error{kNoRingTonesLoadedMessage};
    if (index >= m_ringTones.size())
        return Error{"There is no ring tone " + number(static_cast<std::int64_t>(index) + 1) + "."};
    m_ringTones.erase(m_ringTones.begin() + static_cast<std::ptrdiff_t>(index));
    return {};
}

Result<void> RingToneDatabase::renameRingTone(std::size_t index, ByteView name)
{
    if (!m_loaded)
        return Error{kNoRingTonesLoadedMessage};
    if (index >= m_ringTones.size())
        return Error{"There is no ring tone " + number(static_cast<std::int64_t>(index) + 1) + "."};
    Bytes trimmed = TrimAtNul(name);
    if (auto named = checkRingToneName(trimmed); !named)
        return Error{named.error()};
    m_ringTones[index].name = std::move(trimmed);
    return {};
}

bool RingToneDatabase::hasRingToneNamed(ByteView name) const
{
    return std::any_of(m_ringTones.begin(), m_ringTones.end(), [name](const RingToneRecord& tone) {
        return std::equal(tone.name.begin(), tone.name.end(), name.begin(), name.end());
    });
}

Bytes RingToneDatabase::uniqueRingToneName(ByteView stem) const
{
    Bytes candidate(stem.begin(), stem.end());
    for (std::size_t n = 1; hasRingToneNamed(candidate); ++n) {
        candidate.assign(stem.begin(), stem.end());
        const std::string counterText = " (" + std::to_string(n) + ")";
        ByteView counter = asBytes(counterText);
        candidate.insert(candidate.end(), counter.begin(), counter.end());
    }
    return candidate;
}

} // namespace chwr
