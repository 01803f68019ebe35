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

}  // namespace chwr::bench
