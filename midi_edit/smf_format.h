#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Named constants of the Standard MIDI File format, as the reader and the rewriter
// use them. Numbers in the file are big-endian.
namespace chwr::smf {

// Header chunk: "MThd", length 6, format, track count, division (14 bytes).
inline constexpr std::size_t kHeaderChunkSize = 14;
inline constexpr std::size_t kHeaderFormatOffset = 8;
inline constexpr std::size_t kHeaderTrackCountOffset = 10;
inline constexpr std::size_t kHeaderDivisionOffset = 12;
// Track chunk header: "MTrk" and the 4-byte length of the events that follow.
inline constexpr std::size_t kTrackChunkHeaderSize = 8;
inline constexpr std::size_t kChunkIdSize = 4;
inline constexpr std::string_view kTrackChunkId = "MTrk";
// Chunk ids are four printable ASCII characters; readers skip a chunk of a kind they
// do not know (an id other than "MTrk" before a track).
inline constexpr std::uint8_t kFirstPrintableAscii = 0x20;
inline constexpr std::uint8_t kLastPrintableAscii = 0x7E;
// A division with its top bit set counts SMPTE frames instead of ticks per quarter.
inline constexpr std::uint16_t kSmpteDivisionFlag = 0x8000;

// Variable-length quantities: seven bits per byte, a set top bit means more follow;
// the format allows at most four bytes (values below 2^28).
inline constexpr std::uint8_t kVlqContinuation = 0x80;
inline constexpr std::uint8_t kVlqPayloadMask = 0x7F;
inline constexpr int kVlqPayloadBits = 7;
inline constexpr int kVlqMaxBytes = 4;
inline constexpr std::uint32_t kVlqMaxValue = 0x0FFFFFFF;

// Status bytes: a byte with the top bit set starts an event; below it is a data byte.
inline constexpr std::uint8_t kStatusFlag = 0x80;
inline constexpr std::uint8_t kMessageTypeMask = 0xF0;
inline constexpr std::uint8_t kChannelMask = 0x0F;
inline constexpr int kChannelCount = 16;
inline constexpr std::uint8_t kDataByteMax = 0x7F;

// Channel message types (status with the channel cleared).
inline constexpr std::uint8_t kNoteOff = 0x80;
inline constexpr std::uint8_t kNoteOn = 0x90;
inline constexpr std::uint8_t kKeyPressure = 0xA0;
inline constexpr std::uint8_t kControlChange = 0xB0;
inline constexpr std::uint8_t kProgramChange = 0xC0;
inline constexpr std::uint8_t kChannelPressure = 0xD0;
inline constexpr std::uint8_t kPitchBend = 0xE0;
// First status that is no channel message (system exclusive, escapes, meta).
inline constexpr std::uint8_t kFirstSystemStatus = 0xF0;

// System exclusive event: F0, a length, that many bytes (usually ending in F7).
inline constexpr std::uint8_t kSysEx = 0xF0;
// Escape (or system exclusive continuation) event: F7, a length, that many bytes.
inline constexpr std::uint8_t kSysExEscape = 0xF7;
// Meta event: FF, a type byte, a length, that many bytes.
inline constexpr std::uint8_t kMeta = 0xFF;
inline constexpr std::uint8_t kMetaEndOfTrack = 0x2F;
inline constexpr std::uint8_t kMetaSetTempo = 0x51;
// Set Tempo carries microseconds per quarter note in three bytes.
inline constexpr std::size_t kSetTempoLength = 3;
// Meta events that make no sound: the text events (01 text, 02 copyright, 03 track
// name, 04 instrument name, 05 lyric, 06 marker, 07 cue point, up to 0F), channel and
// port prefixes, time and key signatures and sequencer-specific data.
inline constexpr std::uint8_t kMetaFirstText = 0x01;
inline constexpr std::uint8_t kMetaCopyright = 0x02;
inline constexpr std::uint8_t kMetaLastText = 0x0F;
inline constexpr std::uint8_t kMetaChannelPrefix = 0x20;
inline constexpr std::uint8_t kMetaPortPrefix = 0x21;
inline constexpr std::uint8_t kMetaTimeSignature = 0x58;
inline constexpr std::uint8_t kMetaKeySignature = 0x59;
inline constexpr std::uint8_t kMetaSequencerSpecific = 0x7F;

// Controllers the rewriter writes or changes.
inline constexpr std::uint8_t kControllerChannelVolume = 0x07;
inline constexpr std::uint8_t kControllerAllNotesOff = 0x7B;
// Controllers whose repeats act: data entry (06, 38) and increment and decrement (60,
// 61) change the parameter that the RPN or NRPN numbers (62 to 65) select; from 78 on
// the channel mode messages (all sound off, reset all controllers, all notes off...).
inline constexpr std::uint8_t kControllerBankSelect = 0x00;
inline constexpr std::uint8_t kControllerBankSelectLsb = 0x20;
inline constexpr std::uint8_t kControllerDataEntry = 0x06;
inline constexpr std::uint8_t kControllerDataEntryLsb = 0x26;
inline constexpr std::uint8_t kControllerDataIncrement = 0x60;
inline constexpr std::uint8_t kControllerLastParameterNumber = 0x65;
inline constexpr std::uint8_t kControllerFirstChannelMode = 0x78;
// A Note Off's release velocity when the sender has none; a Note On of velocity 0 means
// a Note Off of this velocity.
inline constexpr std::uint8_t kDefaultReleaseVelocity = 0x40;

// Tempo in force before the first Set Tempo event: 120 beats per minute.
inline constexpr std::uint32_t kDefaultMicrosPerQuarter = 500000;
// The program number of a channel on which the file selects none.
inline constexpr int kNoProgram = -1;
inline constexpr int kSemitonesPerOctave = 12;

constexpr bool isStatusByte(std::uint8_t byte)
{
    return (byte & kStatusFlag) != 0;
}

constexpr bool isChannelStatus(std::uint8_t status)
{
    return status >= kStatusFlag && status < kFirstSystemStatus;
}

// Data bytes after a channel status: one for program change and channel pressure.
constexpr int channelMessageDataBytes(std::uint8_t status)
{
    std::uint8_t type = status & kMessageTypeMask;
    return (type == kProgramChange || type == kChannelPressure) ? 1 : 2;
}

// Bytes a variable-length quantity of this value takes (values up to kVlqMaxValue).
constexpr int variableLengthQuantitySize(std::uint32_t value)
{
    int size = 1;
    while (size < kVlqMaxBytes && (value >> (kVlqPayloadBits * size)) != 0)
        ++size;
    return size;
}

// Writes value (at most kVlqMaxValue) as a variable-length quantity at out; returns
// the number of bytes written.
inline int encodeVariableLengthQuantity(std::uint32_t value, std::uint8_t* out)
{
    int size = variableLengthQuantitySize(value);
    for (int i = 0; i < size; ++i) {
        int shift = kVlqPayloadBits * (size - 1 - i);
        std::uint8_t group = static_cast<std::uint8_t>((value >> shift) & kVlqPayloadMask);
        out[i] = static_cast<std::uint8_t>(i + 1 < size ? group | kVlqContinuation : group);
    }
    return size;
}

} // namespace chwr::smf
