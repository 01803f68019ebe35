#pragma once

#include "shell/bytes.h"

#include <cstddef>
#include <cstdint>

namespace chwr::bench {

// A made-up song of about targetBytes as a format 1 Standard MIDI File: a conductor
// track (tempo changes, time signature, text, a system exclusive reset) and one track
// per channel 1 to 16 with program changes, controllers, pitch bend, lyrics and notes
// under running status. The same seed gives the same bytes.
Bytes generateSong(std::size_t targetBytes, std::uint32_t seed = 1);

// The sizes the benchmarks measure: a ring tone, and two songs far larger.
inline constexpr std::size_t kRingTone = 64 * 1024;
inline constexpr std::size_t kOneMegabyte = 1024 * 1024;
inline constexpr std::size_t kTenMegabytes = 10 * kOneMegabyte;

// generateSong(size), made once per size for the whole program.
const Bytes& song(std::size_t size);

}  // namespace chwr::bench
