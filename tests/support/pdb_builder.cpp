#include "tests/support/pdb_builder.h"

#include <algorithm>
#include <stdexcept>

namespace chwr::test {

namespace {

void appendNumber(Bytes& out, std::uint32_t value, std::size_t width)
{
    for (std::size_t i = width; i-- > 0;)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void appendPadded(Bytes& out, const std::string& text, std::size_t width)
{
    Bytes field(width, 0);
    std::copy_n(text.begin(), std::min(text.size(), width), field.begin());
    out.insert(out.end(), field.begin(), field.end());
}

} // namespace

Bytes pdbHeader(const PdbHeaderFields& f)
{
    Bytes out;
    appendPadded(out, f.name, 32);
    appendNumber(out, f.attrib, 2);
    appendNumber(out, f.version, 2);
    appendNumber(out, f.creationdate, 4);
    appendNumber(out, f.moddate, 4);
    appendNumber(out, f.lastbackup, 4);
    appendNumber(out, f.modnumber, 4);
    appendNumber(out, f.app, 4);
    appendNumber(out, f.sort, 4);
    appendPadded(out, f.type, 4);
    appendPadded(out, f.creator, 4);
    appendNumber(out, f.unique, 4);
    appendNumber(out, f.next, 4);
    appendNumber(out, f.records, 2);
    return out;
}

Bytes recordListEntry(std::uint32_t offset, std::uint8_t attributes, std::uint32_t uniqueId)
{
    Bytes out;
    appendNumber(out, offset, 4);
    out.push_back(attributes);
    appendNumber(out, uniqueId, 3);
    return out;
}

Bytes toneRecord(const std::string& name, ByteView data)
{
    Bytes out;
    out.reserve(name.size() + data.size() + 7);
    out.insert(out.end(), {'P', 'M', 'r', 'c', static_cast<std::uint8_t>(name.size() + 7), 0x00});
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0x00);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes midiFileOfSize(std::size_t size)
{
    // MThd (14 bytes), MTrk header (8), text event FF 01 len (3, or more for long
    // lengths), the padding text, end of track FF 2F 00 (3) plus the delta times (2).
    constexpr std::size_t fixed = 14 + 8 + 2 + 3 + 3;
    if (size < fixed)
        throw std::invalid_argument("a MIDI file of this builder has at least 30 bytes");
    Bytes out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0};
    // The text length as a variable-length quantity of one to three bytes.
    std::size_t text = size - fixed;
    std::size_t lengthBytes = text < 0x80 ? 1 : text < 0x4000 + 1 ? 2 : 3;
    text -= lengthBytes - 1;
    Bytes track = {0x00, 0xFF, 0x01};
    if (lengthBytes == 3)
        track.push_back(static_cast<std::uint8_t>(0x80 | (text >> 14)));
    if (lengthBytes >= 2)
        track.push_back(static_cast<std::uint8_t>(0x80 | ((text >> 7) & 0x7F)));
    track.push_back(static_cast<std::uint8_t>(text & 0x7F));
    track.insert(track.end(), text, 'a');
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    appendNumber(out, static_cast<std::uint32_t>(track.size()), 4);
    out.insert(out.end(), track.begin(), track.end());
    if (out.size() != size)
        throw std::logic_error("midiFileOfSize miscounted");
    return out;
}

PdbBuilder& PdbBuilder::modnumber(std::uint32_t value)
{
    m_fields.modnumber = value;
    return *this;
}

PdbBuilder& PdbBuilder::ringTone(const std::string& name, ByteView data)
{
    m_tones.push_back({name, Bytes(data.begin(), data.end())});
    return *this;
}

PdbBuilder& PdbBuilder::appInfo(ByteView block)
{
    m_appInfo.assign(block.begin(), block.end());
    m_hasAppInfo = true;
    return *this;
}

PdbBuilder& PdbBuilder::sortInfo(ByteView block)
{
    m_sortInfo.assign(block.begin(), block.end());
    m_hasSortInfo = true;
    return *this;
}

Bytes PdbBuilder::build() const
{
    return assemble(true);
}

Bytes PdbBuilder::buildBackToBack() const
{
    return assemble(false);
}

Bytes PdbBuilder::assemble(bool separators) const
{
    PdbHeaderFields fields = m_fields;
    fields.records = static_cast<std::uint16_t>(m_tones.size());
    const std::size_t listEnd = 78 + 8 * m_tones.size();
    // After the list: the system writes one 0x00; other software nothing.
    std::size_t offset = listEnd + (separators ? 1 : 0);
    if (m_hasAppInfo)
        fields.app = static_cast<std::uint32_t>(offset);
    offset += m_appInfo.size();
    if (m_hasSortInfo)
        fields.sort = static_cast<std::uint32_t>(offset);
    offset += m_sortInfo.size();
    const bool firstLed = separators && !m_hasAppInfo && !m_hasSortInfo;

    Bytes out = pdbHeader(fields);
    Bytes body;
    for (std::size_t i = 0; i < m_tones.size(); ++i) {
        if (separators && (i > 0 || firstLed)) {
            body.push_back(0x00);
            ++offset;
        }
        Bytes record = toneRecord(m_tones[i].name, m_tones[i].data);
        Bytes entry = recordListEntry(static_cast<std::uint32_t>(offset), 0x40,
                                      0x003A98 + static_cast<std::uint32_t>(i));
        out.insert(out.end(), entry.begin(), entry.end());
        body.insert(body.end(), record.begin(), record.end());
        offset += record.size();
    }
    if (separators)
        out.push_back(0x00);
    out.insert(out.end(), m_appInfo.begin(), m_appInfo.end());
    out.insert(out.end(), m_sortInfo.begin(), m_sortInfo.end());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes bytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes concat(std::initializer_list<ByteView> parts)
{
    Bytes out;
    for (ByteView part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

} // namespace chwr::test
