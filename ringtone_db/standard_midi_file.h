#pragma once

#include "shell/bytes.h"
#include "shell/result.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace chwr {

// What the handheld plays as a ring tone: a Standard MIDI File, as it stands or inside
// a RIFF MIDI file (the ".rmi" that Windows programs save).

// The message for a file to add that holds no Standard MIDI File.
inline constexpr const char* kNotStandardMidiFileMessage = "This file is not a Standard MIDI File.";

// A Standard MIDI File starts with its header chunk: this id, then the header's length
// as a big-endian 32-bit number.
inline constexpr std::array<std::uint8_t, 4> kSmfHeaderId = {'M', 'T', 'h', 'd'};
// The header holds at least format, track count and division (three 16-bit numbers).
inline constexpr std::uint32_t kSmfMinHeaderLength = 6;
// The id, the length and those six bytes: the shortest Standard MIDI File.
inline constexpr std::size_t kSmfMinBytes = 14;

// A RIFF MIDI file: this id, the size of what follows (little-endian 32-bit), the form
// type "RMID", then chunks.
inline constexpr std::array<std::uint8_t, 4> kRiffId = {'R', 'I', 'F', 'F'};
inline constexpr std::array<std::uint8_t, 4> kRmidFormType = {'R', 'M', 'I', 'D'};
// "RIFF", the size and "RMID".
inline constexpr std::size_t kRiffHeaderBytes = 12;
// The size counts the bytes after "RIFF" and the size itself.
inline constexpr std::size_t kRiffSizeCountsFrom = 8;
// Each chunk: a 4-byte id, its length (little-endian 32-bit), that many bytes and one
// pad byte after an odd length.
inline constexpr std::size_t kRiffChunkHeaderBytes = 8;
// The chunk that holds the Standard MIDI File.
inline constexpr std::array<std::uint8_t, 4> kRiffDataChunkId = {'d', 'a', 't', 'a'};
// A RIFF MIDI file is read up to this size: room for the largest ring tone's song with
// the text chunks some programs put around it.
inline constexpr std::size_t kMaxRiffMidiFileBytes = 1 << 20;

// True when the bytes start as a RIFF MIDI file ("RIFF", size, "RMID").
bool isRiffMidiFile(ByteView file);

// The Standard MIDI File the bytes hold: the bytes themselves, or the "data" chunk of a
// RIFF MIDI file. Anything else is refused with kNotStandardMidiFileMessage.
Result<ByteView> standardMidiFileIn(ByteView file);

} // namespace chwr
