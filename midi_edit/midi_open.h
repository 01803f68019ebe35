#pragma once

#include "midi_edit/channel_table.h"
#include "midi_edit/midi_edit_state.h"
#include "midi_edit/midi_reader.h"
#include "shell/result.h"

#include <filesystem>

namespace chwr {

// The core of "Open File" on the "Modify MIDI" tab: walks the file, then resets the
// channel rows and fills each channel's Patch with its last program, and records the
// source, division, tempo and programs in state. A file that cannot be read or is
// refused changes neither the rows nor the state. The window sets the display name,
// loads the player and shows the rows.
Result<MidiFileSummary> openMidiForEditing(const std::filesystem::path& path, ChannelTable& table,
                                           MidiEditState& state, const WalkBreath& breath = {});

}  // namespace chwr
