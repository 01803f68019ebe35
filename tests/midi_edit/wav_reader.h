#pragma once

#include "shell/bytes.h"
#include "shell/result.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace chwr::test {

// A 16-bit PCM WAV file as the tests read it back: the format and the samples,
// channels interleaved.
struct Wav {
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    std::vector<std::int16_t> samples;

    std::size_t frames() const
    {
        return channels > 0 ? samples.size() / static_cast<std::size_t>(channels) : 0;
    }
    double milliseconds() const
    {
        return sampleRate > 0 ? 1000.0 * static_cast<double>(frames()) / sampleRate : 0;
    }
    // The largest absolute sample value: 0 for silence.
    int peak() const;
};

// Reads the RIFF chunks "fmt " and "data"; other chunks are passed over.
Result<Wav> readWav(ByteView bytes);

} // namespace chwr::test
