#pragma once

#include "midi_edit/smf_format.h"

#include <array>
#include <string>

namespace chwr {

// The main window's state of the "Modify MIDI" tab. Paths and names are byte strings
// of the file system; the window converts them at its edge.
struct MidiEditState {
    // The opened MIDI file and the name it goes by (shown after "File: ").
    std::string MidiSourcePath;
    std::string MidiDisplayName;
    // Whether the channel rows may be committed: false while an open or a rewrite runs.
    bool RowCommitFlag = true;
    // The header's division and the last Set Tempo of the opened file (500000 when it
    // has none); 0 before the first open.
    double TicksPerQuarter = 0;
    double MicrosPerQuarter = 0;
    // The latest rewrite result (head in the program folder).
    std::string ResultFilePath;
    // A one-shot hand-off of a file and a ring tone name to the add routine.
    std::string PendingImportPath;
    std::string PendingImportName;
    // The program the last open found on each channel (index 0 is Channel 1), -1 where
    // the file selects none: the Patch each row was filled with. A row whose Patch
    // still equals it asks for no change.
    std::array<int, smf::kChannelCount> OpenPrograms = [] {
        std::array<int, smf::kChannelCount> programs{};
        programs.fill(smf::kNoProgram);
        return programs;
    }();
};

}  // namespace chwr
