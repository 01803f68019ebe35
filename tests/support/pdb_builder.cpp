#include "tests/support/pdb_builder.h"
#include "tests/support/smf_builder.h"

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
    for (std::uint16_t half : {f.attrib, f.version})
        appendNumber(out, half, 2);
    for (std::uint32_t word : {f.creationdate, f.moddate, f.lastbackup, f.modnumber, f.app, f.sort})
        appendNumber(out, word, 4);
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
    // The text length as a variable-length quantity of one to three bytes, not always
    // the shortest form, so that every size can be made.
    std::size_t text = size - fixed;
    std::size_t lengthBytes = text < 0x80 ? 1 : text < 0x4000 + 1 ? 2 : 3;
    text -= lengthBytes - 1;
    Bytes track = {0x00, 0xFF, 0x01};
    for (std::size_t shift = 7 * (lengthBytes - 1); shift > 0; shift -= 7)
        track.push_back(static_cast<std::uint8_t>(0x80 | ((text >> shift) & 0x7F)));
    track.push_back(static_cast<std::uint8_t>(text & 0x7F));
    track.insert(track.end(), text, 'a');
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
    Bytes out = concat({smfHeader(0, 1, 0x01E0), trackChunk(track)});
    if (out.size() != size)
        throw std::logic_error("midiFileOfSize miscounted");
    return out;
}

Bytes PdbBuilder::assemble(bool separators) const
{
    PdbHeaderFields fields = m_fields;
    fields.records = static_cast<std::uint16_t>(m_tones.size());
    const Bytes info = concat({m_appInfo.value_or(Bytes{}), m_sortInfo.value_or(Bytes{})});
    // After the list: the system writes one 0x00; other software nothing.
    std::size_t offset = 78 + 8 * m_tones.size() + (separators ? 1 : 0);
    if (m_appInfo)
        fields.app = static_cast<std::uint32_t>(offset);
    if (m_sortInfo)
        fields.sort = static_cast<std::uint32_t>(offset + m_appInfo.value_or(Bytes{}).size());
    offset += info.size();
    const bool firstLed = separators && !m_appInfo && !m_sortInfo;

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
    return concat({out, info, body});
}

Bytes pdb(const std::vector<std::pair<std::string, std::string>>& tones, std::uint32_t modnumber,
          const char* app, const char* sort)
{
    PdbBuilder builder;
    for (const auto& [name, data] : tones)
        builder.ringTone(name, bytesOf(data));
    if (app)
        builder.appInfo(bytesOf(app));
    if (sort)
        builder.sortInfo(bytesOf(sort));
    return builder.modnumber(modnumber).build();
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
