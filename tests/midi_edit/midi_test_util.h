#pragma once

#include "shell/result.h"
#include "tests/support/pdb_builder.h"
#include "tests/support/smf_builder.h"

#include <algorithm>
#include <array>
#include <sstream>
#include <string>
#include <vector>

// What the MIDI tests share: songs written in one expression.
namespace chwr::test {

using Track = TrackBuilder;

// Bytes written in hex; "|" between events is for the reader.
inline Bytes hex(std::string text)
{
    std::replace(text.begin(), text.end(), '|', ' ');
    std::istringstream in(text);
    Bytes bytes;
    for (unsigned value = 0; in >> std::hex >> value;)
        bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

// The 14-byte header of `file` followed by a track chunk of each track's events.
inline Bytes withTracks(const Bytes& file, const std::vector<Bytes>& tracks)
{
    Bytes result(file.begin(), file.begin() + 14);
    for (const Bytes& events : tracks)
        result = concat({result, trackChunk(events)});
    return result;
}

// A song of these tracks, format 1 when there are several.
inline Bytes song(int division, const std::vector<Bytes>& tracks)
{
    return withTracks(smfHeader(tracks.size() > 1 ? 1 : 0, static_cast<int>(tracks.size()), division),
                      tracks);
}

// The program of each channel (1 to 16) given, -1 for the others.
inline std::array<int, 16> programsOn(std::initializer_list<std::pair<int, int>> channelPrograms)
{
    std::array<int, 16> programs;
    programs.fill(-1);
    for (auto [channel, program] : channelPrograms)
        programs[static_cast<std::size_t>(channel - 1)] = program;
    return programs;
}

template <typename T> std::string errorOf(const Result<T>& result)
{
    return result ? "(no error)" : result.error();
}

} // namespace chwr::test
