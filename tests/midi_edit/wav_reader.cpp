#include "tests/midi_edit/wav_reader.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace chwr::test {

namespace {

// RIFF: "RIFF", size, "WAVE", then chunks of a 4-byte id, a 32-bit size and the data
// (padded to an even size). Numbers are little-endian.
constexpr std::size_t kRiffHeaderSize = 12;
constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::size_t kFmtMinimumSize = 16;
constexpr std::uint16_t kPcmFormat = 1;
constexpr std::uint16_t kExtensibleFormat = 0xFFFE;

std::uint32_t littleEndian(ByteView bytes, std::size_t offset, int size)
{
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | bytes[offset + static_cast<std::size_t>(i)];
    return value;
}

bool idAt(ByteView bytes, std::size_t offset, std::string_view id)
{
    return asString(bytes.subspan(offset, 4)) == id;
}

} // namespace

int Wav::peak() const
{
    int peak = 0;
    for (std::int16_t sample : samples)
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    return peak;
}

Result<Wav> readWav(ByteView bytes)
{
    if (bytes.size() < kRiffHeaderSize || !idAt(bytes, 0, "RIFF") || !idAt(bytes, 8, "WAVE"))
        return Error{"not a RIFF WAVE file"};
    Wav wav;
    bool haveFormat = false;
    std::size_t offset = kRiffHeaderSize;
    while (offset + kChunkHeaderSize <= bytes.size()) {
        const std::uint32_t size = littleEndian(bytes, offset + 4, 4);
        const std::size_t data = offset + kChunkHeaderSize;
        if (size > bytes.size() - data)
            return Error{"a chunk runs past the end of the file"};
        if (idAt(bytes, offset, "fmt ")) {
            if (size < kFmtMinimumSize)
                return Error{"the fmt chunk is too short"};
            auto format = static_cast<std::uint16_t>(littleEndian(bytes, data, 2));
            if (format != kPcmFormat && format != kExtensibleFormat)
                return Error{"not PCM"};
            wav.channels = static_cast<int>(littleEndian(bytes, data + 2, 2));
            wav.sampleRate = static_cast<int>(littleEndian(bytes, data + 4, 4));
            wav.bitsPerSample = static_cast<int>(littleEndian(bytes, data + 14, 2));
            haveFormat = true;
        } else if (idAt(bytes, offset, "data")) {
            if (!haveFormat || wav.bitsPerSample != 16)
                return Error{"the data chunk is not 16-bit PCM after a fmt chunk"};
            for (std::size_t i = 0; i + 1 < size; i += 2)
                wav.samples.push_back(static_cast<std::int16_t>(littleEndian(bytes, data + i, 2)));
            return wav;
        }
        offset = data + size + (size % 2);
    }
    return Error{"no data chunk"};
}

} // namespace chwr::test
