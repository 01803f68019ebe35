#pragma once

#include "midi_edit/channel_table.h"
#include "midi_edit/crop_rules.h"
#include "midi_edit/midi_edit_state.h"
#include "midi_edit/midi_reader.h"
#include "shell/bytes.h"
#include "shell/result.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace chwr {

// What one rewrite does: the crop marks and each channel's changes.
struct RewriteSettings {
    Marks marks;
    ChannelAdjustments adjustments{};
};

// Where a run is, for the progress window.
struct RewriteProgress {
    int trackNumber = 0; // from 1
    int trackCount = 0;  // the header's
    std::int64_t absoluteTick = 0;
    std::size_t bytesRead = 0;
    std::size_t totalBytes = 0;

    // Bytes of the source read so far, 0 to 100.
    int percent() const { return totalBytes ? static_cast<int>(bytesRead * 100 / totalBytes) : 100; }
};

// The window connects these: progress lets it process its pending events (every few
// thousand events and as each track begins); a true cancelRequested ends the run
// before the next event.
struct RewriteCallbacks {
    std::function<void(const RewriteProgress&)> progress;
    std::function<bool()> cancelRequested;
};

enum class RewriteOutcome { Finished, Cancelled };

struct RewriteResult {
    RewriteOutcome outcome = RewriteOutcome::Finished;
    // Track chunks written, and the header's count (a source that ends early leaves
    // fewer, as does a cancel).
    int tracksWritten = 0;
    int trackCount = 0;
    // The largest final tick of the tracks read to their End of Track.
    std::int64_t maxTicks = 0;
    // Events read in the run, counted from 1 ("commandcount").
    std::uint32_t eventCount = 0;
    // The source ended (or turned malformed) before its last announced track.
    bool sourceEndedEarly = false;
    // Messages for the user, such as "Unrecognized Event ...".
    std::vector<std::string> notices;
    // The file written (head, for a run of MidiRewriter).
    std::filesystem::path resultPath;
};

// Receives the result file's bytes in order: the 14-byte header, then one whole track
// chunk ("MTrk") at a time; chunks of other kinds in the source are left out.
using ChunkSink = std::function<Result<void>(ByteView)>;

// Puts the finished 14-byte header over the one the sink received first.
using HeaderPatch = std::function<Result<void>(ByteView)>;

// The engine: copies source event by event into sink with the adjustments and the crop.
// summary is the open's walk of the same bytes (its tempo map and length time the
// marks). Holds the source and one track's output, nothing more. Refused before the
// sink sees a byte: what readSmfHeader() refuses and the mark checks.
// The header goes out first as the source has it; a finished run whose number of track
// chunks differs from the header's count (a source that ends early or announces none)
// hands patchHeader the header with the count written, so that the result says how
// many tracks it holds. A cancelled run leaves the header as it went out.
Result<RewriteResult> rewriteMidi(ByteView source, const MidiFileSummary& summary,
                                  const RewriteSettings& settings, const ChunkSink& sink,
                                  const RewriteCallbacks& callbacks = {},
                                  const HeaderPatch& patchHeader = {});

// "Apply": rewrites the tab's opened file into head in the program folder with the
// channel table's rows (read once as the run starts) and the marks, and empties
// midi/debug.txt. A finished run's header counts the tracks written to head (see
// rewriteMidi). A cancelled or failed run leaves head with the header and the tracks
// finished before it stopped; either way the files are closed, RowCommitFlag is true
// again and the next run may start. A run cannot start while another is going.
class MidiRewriter {
public:
    static constexpr const char* kResultFileName = "head";
    static constexpr const char* kDebugFolder = "midi";
    static constexpr const char* kDebugFileName = "debug.txt";

    void setProgressHandler(std::function<void(const RewriteProgress&)> handler)
    {
        m_progress = std::move(handler);
    }
    // The Cancel button: noticed before the next event.
    void requestCancel() { m_cancelRequested = true; }
    bool isRunning() const { return m_running; }

    Result<RewriteResult> apply(MidiEditState& state, ChannelTable& table, const Marks& marks);

private:
    std::function<void(const RewriteProgress&)> m_progress;
    bool m_cancelRequested = false;
    bool m_running = false;
};

} // namespace chwr
