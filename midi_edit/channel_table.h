#pragma once

#include "midi_edit/smf_format.h"
#include "shell/result.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace chwr {

// One row of tblMIDIAdjust. An empty field (NULL) means no change, like 0.
struct ChannelAdjustment {
    std::int64_t rowId = 0;  // the stored row, for save()
    int Channel = 0;         // 1 to 16: the status byte's channel plus 1
    std::optional<int> Octave;
    std::optional<int> Velocity;
    std::optional<int> Volume;
    std::optional<int> Patch;  // -1 to 127; -1 where the file selects no program
};

// Fields by name, without regard to case ("patch", "[Octave]" without the brackets).
// Channel can be read but not written: it identifies the row.
Result<std::optional<int>> readField(const ChannelAdjustment& row, std::string_view name);
Result<void> writeField(ChannelAdjustment& row, std::string_view name, std::optional<int> value);

// What a rewrite does to one channel, taken from the rows once when the run starts.
struct ChannelChange {
    int octave = 0;
    int velocity = 0;
    int volume = 0;
    // The program every Program Change of the channel is written with, or -1 to copy
    // the programs as read.
    int patch = smf::kNoProgram;

    bool operator==(const ChannelChange&) const = default;
};
// Index 0 is Channel 1.
using ChannelAdjustments = std::array<ChannelChange, smf::kChannelCount>;

// The same rule as ChannelTable::adjustmentsForRewrite() over rows held in memory: the
// first row of a channel with a non-zero field sets it; a Patch counts only where it
// differs from the program the open found and lies within 0 to 127.
ChannelAdjustments adjustmentsFromRows(const std::vector<ChannelAdjustment>& rows,
                                       const std::array<int, smf::kChannelCount>& openPrograms);

// The fields the rewrite queries one by one.
enum class AdjustField { Octave, Velocity, Volume };

// The channel adjustment table tblMIDIAdjust in a SQLite database file in the program
// folder. Opening creates the file and the table with its sixteen rows (Channel 1 to
// 16, Octave, Velocity and Volume 0, Patch -1) when either is missing; after that the
// program never adds or removes rows and never changes a Channel.
class ChannelTable {
public:
    static constexpr const char* kFileName = "MIDIAdjust.db";
    static constexpr const char* kTableName = "tblMIDIAdjust";

    // kFileName in the program folder.
    static std::filesystem::path defaultPath();
    static Result<ChannelTable> open(const std::filesystem::path& path = defaultPath());

    ChannelTable(ChannelTable&&) noexcept;
    ChannelTable& operator=(ChannelTable&&) noexcept;
    ~ChannelTable();

    const std::filesystem::path& path() const { return m_path; }

    // Every row in stored order.
    Result<std::vector<ChannelAdjustment>> rows();
    // Writes Octave, Velocity, Volume and Patch of the stored row row.rowId.
    Result<void> save(const ChannelAdjustment& row);

    // The reset at each open: every row gets Patch -1 and Octave, Velocity, Volume 0.
    Result<void> resetForOpen();
    // A program change P on status channel n (0 to 15): every row of Channel n + 1 gets
    // Patch P. A channel without a row changes nothing.
    Result<void> fillPatch(int statusChannel, int program);
    // fillPatch() for each channel's last program, skipping the -1 of channels without one.
    Result<void> fillPatches(const std::array<int, smf::kChannelCount>& programs);
    // What an open does to the rows, in one transaction.
    Result<void> resetAndFillPatches(const std::array<int, smf::kChannelCount>& programs);

    // The rewrite's queries, as text: the rows of channel (1 to 16) whose field is
    // non-zero and not empty, and those whose Patch differs from program.
    Result<std::vector<ChannelAdjustment>> rowsChanging(int channel, AdjustField field);
    Result<std::vector<ChannelAdjustment>> rowsWithPatchOtherThan(int channel, int program);

    // The rows read once for a run: per channel the first row each query finds.
    Result<ChannelAdjustments> adjustmentsForRewrite(const std::array<int, smf::kChannelCount>& openPrograms);

private:
    struct Closer {
        void operator()(sqlite3* db) const;
    };
    ChannelTable(std::unique_ptr<sqlite3, Closer> db, std::filesystem::path path);
    Result<void> execute(const std::string& sql);
    Result<void> inTransaction(const std::function<Result<void>()>& work);
    Result<void> fillPatchesInsideTransaction(const std::array<int, smf::kChannelCount>& programs);
    Result<std::vector<ChannelAdjustment>> query(const std::string& sql);
    Error failure(const std::string& what) const;

    std::unique_ptr<sqlite3, Closer> m_db;
    std::filesystem::path m_path;
};

}  // namespace chwr
