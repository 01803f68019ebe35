#include "ringtone_db/standard_midi_file.h"

#include "ringtone_db/palm_values.h"

#include <algorithm>

namespace chwr {

namespace {

template <std::size_t N>
bool startsWith(ByteView bytes, std::size_t offset, const std::array<std::uint8_t, N>& id)
{
    return bytes.size() >= offset + N && std::equal(id.begin(), id.end(), bytes.begin() + offset);
}

std::uint32_t littleEndian32(ByteView bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;)
        value = (value << 8) | bytes[offset + i];
    return value;
}

bool isBareStandardMidiFile(ByteView file)
{
    if (file.size() < kSmfMinBytes || !startsWith(file, 0, kSmfHeaderId))
        return false;
    Result<std::uint32_t> length = readUint32BigEndian(file, kSmfHeaderId.size());
    return length && *length >= kSmfMinHeaderLength;
}

} // namespace

bool isRiffMidiFile(ByteView file)
{
    return startsWith(file, 0, kRiffId) &&
           startsWith(file, kRiffHeaderBytes - kRmidFormType.size(), kRmidFormType);
}

Result<ByteView> standardMidiFileIn(ByteView file)
{
    if (isRiffMidiFile(file)) {
        // The chunks end where the RIFF size says, or where the file does if sooner.
        const std::size_t end = std::min<std::uint64_t>(
            file.size(), std::uint64_t{littleEndian32(file, kRiffId.size())} + kRiffSizeCountsFrom);
        for (std::size_t offset = kRiffHeaderBytes; offset + kRiffChunkHeaderBytes <= end;) {
            const std::uint64_t length = littleEndian32(file, offset + kRiffDataChunkId.size());
            const std::size_t start = offset + kRiffChunkHeaderBytes;
            if (length > end - start)
                break;
            if (startsWith(file, offset, kRiffDataChunkId)) {
                ByteView inner = file.subspan(start, static_cast<std::size_t>(length));
                if (isBareStandardMidiFile(inner))
                    return inner;
                break;
            }
            offset = start + static_cast<std::size_t>(length) + (length % 2);
        }
        return Error{kNotStandardMidiFileMessage};
    }
    if (!isBareStandardMidiFile(file))
        return Error{kNotStandardMidiFileMessage};
    return file;
}

} // namespace chwr
