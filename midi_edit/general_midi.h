#pragma once

#include <string_view>

namespace chwr {

// Program numbers of the General MIDI Level 1 sound set.
inline constexpr int kGeneralMidiProgramCount = 128;
// The channel table's Patch for a channel whose file selects no program.
inline constexpr int kNoPatch = -1;

// The General MIDI name of program 0 to 127 ("Acoustic Grand Piano" for 0), or an
// empty view for any other number.
std::string_view generalMidiInstrumentName(int program);

}  // namespace chwr
