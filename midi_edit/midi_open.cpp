#include "midi_edit/midi_open.h"

namespace chwr {

Result<MidiFileSummary> openMidiForEditing(const std::filesystem::path& path, ChannelTable& table,
                                           MidiEditState& state, const WalkBreath& breath)
{
    // The rows may not be committed while they are rebuilt; afterwards they may again.
    struct CommitOff {
        MidiEditState& state;
        explicit CommitOff(MidiEditState& s) : state(s) { state.RowCommitFlag = false; }
        ~CommitOff() { state.RowCommitFlag = true; }
    } commitOff(state);

    Result<MidiFileSummary> summary = readMidiFile(path, breath);
    if (!summary)
        return summary;
    if (auto rows = table.resetAndFillPatches(summary->programs); !rows)
        return Error{rows.error()};

    state.MidiSourcePath = path.string();
    state.TicksPerQuarter = summary->TicksPerQuarter;
    state.MicrosPerQuarter = summary->MicrosPerQuarter;
    state.OpenPrograms = summary->programs;
    return summary;
}

}  // namespace chwr
