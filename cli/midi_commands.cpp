#include "cli/command.h"

#include "midi_edit/channel_table.h"
#include "midi_edit/crop_rules.h"
#include "midi_edit/fit_end_mark.h"
#include "midi_edit/midi_compact.h"
#include "midi_edit/midi_reader.h"
#include "midi_edit/midi_rewriter.h"
#include "shell/file_io.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string_view>

namespace chwr::cli {

namespace {

namespace fs = std::filesystem;

constexpr int kFirstChannel = 1;

// A whole number written in decimal, the whole text and nothing else.
template <typename Number> std::optional<Number> wholeNumber(std::string_view text)
{
    Number value{};
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || stop != end || error != std::errc())
        return std::nullopt;
    return value;
}

// Messages made for a message box: their line breaks become spaces.
std::string oneLine(const std::string& message)
{
    std::string line;
    for (char c : message) {
        if (c == '\r')
            continue;
        line += c == '\n' ? ' ' : c;
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

int runInfo(CommandArgs& args, Streams io)
{
    bool json = false;
    args.flag("--json", json);
    if (std::optional<int> done = args.parse(io))
        return *done;
    if (args.positional().size() != 1)
        return args.usageError(io, "expected one MIDI file");
    io.json = json;

    const std::string& file = args.positional()[0];
    Result<Bytes> bytes = readInput(file);
    if (!bytes)
        return failure(io, bytes.error(), "info");
    Result<MidiFileSummary> summary = readMidiFile(*bytes);
    if (!summary)
        return failure(io, summary.error(), "info");
    const MidiFileSummary& s = *summary;
    if (json) {
        Json programs = Json::object();
        for (int channel = kFirstChannel; channel <= smf::kChannelCount; ++channel)
            programs[std::to_string(channel)] = s.programs[static_cast<std::size_t>(channel - kFirstChannel)];
        printJson(io.out, Json{{"format", s.format},
                               {"tracks", s.trackCount},
                               {"division", s.division},
                               {"tempo", static_cast<long long>(s.MicrosPerQuarter)},
                               {"length_ticks", s.lengthTicks},
                               {"length_ms", s.lengthMilliseconds},
                               {"programs", std::move(programs)}});
        return kExitOk;
    }
    io.out << "File: " << file << "\n"
           << "Size: " << s.fileSize << " bytes\n"
           << "Format: " << s.format << "\n"
           << "Tracks: " << s.trackCount << "\n"
           << "Division: " << s.division << " ticks per quarter note\n"
           << "Tempo: " << static_cast<long long>(s.MicrosPerQuarter) << " microseconds per quarter note\n"
           << "Length: " << s.lengthTicks << " ticks, " << s.lengthMilliseconds << " ms\n"
           << "Programs:\n";
    for (int channel = kFirstChannel; channel <= smf::kChannelCount; ++channel) {
        int program = s.programs[static_cast<std::size_t>(channel - kFirstChannel)];
        io.out << "  Channel " << channel << ": ";
        if (program == smf::kNoProgram)
            io.out << "none\n";
        else
            io.out << program << "\n";
    }
    if (s.stoppedEarly)
        io.out << "Note: the walk stopped after " << s.tracksRead
               << " complete track(s); the rest of the file "
               << "is truncated or malformed.\n";
    return kExitOk;
}

// "CH:octave=O,velocity=V,volume=W,patch=P", any of the four fields, in any order.
struct AdjustOption {
    int channel = 0;
    ChannelAdjustment row;
};

std::optional<AdjustOption> parseAdjust(const std::string& text, std::string& problem)
{
    problem = "--adjust takes CH:octave=O,velocity=V,volume=W,patch=P with CH 1 to 16, not \"" + text + "\"";
    auto colon = text.find(':');
    if (colon == std::string::npos)
        return std::nullopt;
    std::optional<int> channel = wholeNumber<int>(std::string_view(text).substr(0, colon));
    if (!channel || *channel < kFirstChannel || *channel > smf::kChannelCount)
        return std::nullopt;
    AdjustOption option;
    option.channel = *channel;
    std::string_view fields = std::string_view(text).substr(colon + 1);
    if (fields.empty())
        return std::nullopt;
    while (!fields.empty()) {
        auto comma = fields.find(',');
        std::string_view field = fields.substr(0, comma);
        fields = comma == std::string_view::npos ? std::string_view() : fields.substr(comma + 1);
        auto equals = field.find('=');
        if (equals == std::string_view::npos)
            return std::nullopt;
        std::string_view name = field.substr(0, equals);
        std::optional<int> value = wholeNumber<int>(field.substr(equals + 1));
        if (!value || (name != "octave" && name != "velocity" && name != "volume" && name != "patch"))
            return std::nullopt;
        if (name == "patch" && (*value < smf::kNoProgram || *value > smf::kDataByteMax)) {
            problem = "patch must lie between -1 and 127, not " + std::to_string(*value);
            return std::nullopt;
        }
        if (!writeField(option.row, name, *value))
            return std::nullopt;
    }
    return option;
}

// Writes a result made in memory: to standard output, or to OUT whole or not at all.
Result<void> writeOutput(Streams io, const std::string& output, ByteView bytes)
{
    if (isStandardStream(output))
        return writeStandardOutput(io, bytes);
    return writeFileAtomic(output, bytes);
}

// "12 text, 3 time_signature, ..." for the kinds a compaction removed; "nothing" when none.
std::string removedCounts(const CompactResult& result)
{
    std::string text;
    for (std::size_t kind = 0; kind < kCompactRemovalKinds; ++kind) {
        if (result.removed[kind] == 0)
            continue;
        text += (text.empty() ? "" : ", ") + std::to_string(result.removed[kind]) + " " +
                std::string(compactRemovalName(static_cast<CompactRemoval>(kind)));
    }
    return text.empty() ? "nothing" : text;
}

int runCompact(CommandArgs& args, Streams io)
{
    bool json = false;
    CompactOptions options;
    args.flag("--keep-text", options.keepText);
    args.flag("--drop-sysex", options.dropSysEx);
    args.flag("--json", json);
    if (std::optional<int> done = args.parse(io))
        return *done;
    if (args.positional().size() != 2)
        return args.usageError(io, "expected an input and an output MIDI file");
    const std::string& input = args.positional()[0];
    const std::string& output = args.positional()[1];
    if (json && isStandardStream(output))
        return args.usageError(io, "--json and the MIDI data cannot both go to standard output");
    io.json = json;

    Result<Bytes> source = readInput(input);
    if (!source)
        return failure(io, source.error(), "compact");
    Result<CompactResult> result = compactMidi(*source, options);
    if (!result)
        return failure(io, result.error(), "compact");
    if (auto written = writeOutput(io, output, result->bytes); !written)
        return failure(io, written.error(), "compact");

    const CompactResult& r = *result;
    if (r.sourceEndedEarly)
        io.err << "chwr compact: the source ends before its last track; the tracks read to their end "
               << "were compacted\n";
    if (json) {
        Json removed = Json::object();
        for (std::size_t kind = 0; kind < kCompactRemovalKinds; ++kind)
            removed[std::string(compactRemovalName(static_cast<CompactRemoval>(kind)))] = r.removed[kind];
        printJson(io.out, Json{{"file", output},
                               {"size_before", r.sourceSize},
                               {"size_after", r.bytes.size()},
                               {"format", r.format},
                               {"tracks", r.trackCount},
                               {"removed", std::move(removed)},
                               {"note_offs_rewritten", r.noteOffsRewritten},
                               {"status_bytes_saved", r.statusBytesSaved},
                               {"kept_source", r.keptSource}});
        return kExitOk;
    }
    // With the MIDI data on standard output, the report goes to standard error.
    std::ostream& report = isStandardStream(output) ? io.err : io.out;
    report << "Wrote " << output << " (" << r.bytes.size() << " bytes, was " << r.sourceSize << "; "
           << r.saved() << " bytes smaller; format " << r.format << ", " << r.trackCount << " track(s))\n";
    if (r.keptSource) {
        report << "Nothing came out smaller: the file is written as it was\n";
        return kExitOk;
    }
    report << "Removed: " << removedCounts(r) << "\n"
           << "Note Offs written as Note On velocity 0: " << r.noteOffsRewritten
           << "; status bytes left out: " << r.statusBytesSaved << "\n";
    return kExitOk;
}

// What modify wrote, for its report.
struct ModifyOutcome {
    const RewriteResult& rewrite;
    std::size_t size = 0;
    int tracks = 0;
    bool compacted = false;
};

int reportModify(Streams io, const std::string& output, const ModifyOutcome& outcome, const Marks& marks,
                 const std::optional<FitResult>& fitted, std::size_t budget, bool json)
{
    const RewriteResult& rewrite = outcome.rewrite;
    for (const std::string& notice : rewrite.notices)
        io.err << "chwr modify: " << oneLine(notice) << "\n";
    if (rewrite.sourceEndedEarly)
        io.err << "chwr modify: the source ends before its last track; " << rewrite.tracksWritten << " of "
               << rewrite.trackCount << " track(s) were written\n";
    if (json) {
        Json report{{"file", output},
                    {"size", outcome.size},
                    {"tracks", outcome.tracks},
                    {"start_ms", static_cast<long long>(marks.startMs)},
                    {"end_ms", static_cast<long long>(marks.endMs)}};
        if (outcome.compacted)
            report["compacted"] = true;
        if (fitted)
            report["fit"] = Json{
                {"end_ms", fitted->endMs},
                {"max_bytes", budget},
                {"song_end", fitted->reachedSongEnd},
                {"size_one_ms_later", fitted->reachedSongEnd ? Json(nullptr) : Json(fitted->sizeOneLater)}};
        printJson(io.out, report);
        return kExitOk;
    }
    // With the MIDI data on standard output, only the fitted end mark is told, on standard error.
    std::ostream& report = isStandardStream(output) ? io.err : io.out;
    if (!isStandardStream(output))
        report << "Wrote " << output << " (" << outcome.size << " bytes, " << outcome.tracks
               << " track(s))\n";
    if (fitted && fitted->reachedSongEnd)
        report << "End mark: " << fitted->endMs << " ms, the end of the song (" << fitted->size
               << " bytes, at most " << budget << ")\n";
    else if (fitted)
        report << "End mark fitted: " << fitted->endMs << " ms (" << fitted->size << " bytes, at most "
               << budget << "; " << fitted->sizeOneLater << " bytes one millisecond later)\n";
    return kExitOk;
}

// modify --compact: the rewrite is made in memory, compacted and written whole.
int writeCompactedModify(Streams io, const std::string& output, ByteView source,
                         const MidiFileSummary& summary, const RewriteSettings& settings,
                         const std::optional<FitResult>& fitted, std::size_t budget, bool json)
{
    Result<RewrittenMidi> made = rewriteToMemory(source, summary, settings, CompactOptions{});
    if (!made)
        return failure(io, made.error(), "modify");
    if (auto written = writeOutput(io, output, made->bytes); !written)
        return failure(io, written.error(), "modify");
    return reportModify(io, output,
                        ModifyOutcome{made->rewrite, made->bytes.size(), made->compaction->trackCount, true},
                        settings.marks, fitted, budget, json);
}

int runModify(CommandArgs& args, Streams io)
{
    bool json = false;
    bool fit = false;
    bool compact = false;
    std::vector<std::string> startValues;
    std::vector<std::string> endValues;
    std::vector<std::string> adjustValues;
    std::vector<std::string> budgetValues;
    args.option("--start-ms", "S", startValues);
    args.option("--end-ms", "E", endValues);
    args.option("--adjust", "CH:octave=O,velocity=V,volume=W,patch=P", adjustValues);
    args.flag("--fit", fit);
    args.option("--max-bytes", "N", budgetValues);
    args.flag("--compact", compact);
    args.flag("--json", json);
    if (std::optional<int> done = args.parse(io))
        return *done;
    if (args.positional().size() != 2)
        return args.usageError(io, "expected an input and an output MIDI file");
    const std::string& input = args.positional()[0];
    const std::string& output = args.positional()[1];
    const bool toStandardOutput = isStandardStream(output);
    if (json && toStandardOutput)
        return args.usageError(io, "--json and the MIDI data cannot both go to standard output");
    if (fit && !endValues.empty())
        return args.usageError(io, "--fit chooses the end mark: leave out --end-ms");
    if (!fit && !budgetValues.empty())
        return args.usageError(io, "--max-bytes goes with --fit");
    std::size_t budget = kRingToneBudgetBytes;
    if (!budgetValues.empty()) {
        std::optional<std::size_t> value = wholeNumber<std::size_t>(budgetValues.back());
        if (budgetValues.size() > 1 || !value || *value == 0)
            return args.usageError(io, "--max-bytes takes one whole number of bytes above 0");
        budget = *value;
    }

    std::string error;
    auto markOption = [&](const char* name, const std::vector<std::string>& values,
                          std::optional<long long>& mark) {
        if (values.empty())
            return true;
        if (values.size() > 1) {
            error = std::string(name) + " is given more than once";
            return false;
        }
        mark = wholeNumber<long long>(values.front());
        if (!mark)
            error = std::string(name) + " takes whole milliseconds, not \"" + values.front() + "\"";
        return mark.has_value();
    };
    std::optional<long long> startMs;
    std::optional<long long> endMs;
    if (!markOption("--start-ms", startValues, startMs) || !markOption("--end-ms", endValues, endMs))
        return args.usageError(io, error);

    std::vector<AdjustOption> adjusts;
    for (const std::string& text : adjustValues) {
        std::optional<AdjustOption> option = parseAdjust(text, error);
        if (!option)
            return args.usageError(io, error);
        for (const AdjustOption& earlier : adjusts)
            if (earlier.channel == option->channel)
                return args.usageError(io,
                                       "channel " + std::to_string(option->channel) + " is adjusted twice");
        adjusts.push_back(*option);
    }
    io.json = json;

    Result<Bytes> source = readInput(input);
    if (!source)
        return failure(io, source.error(), "modify");
    Result<MidiFileSummary> summary = readMidiFile(*source);
    if (!summary)
        return failure(io, summary.error(), "modify");

    // The rows as the open leaves them (Patch = the file's program), then the user's changes.
    std::vector<ChannelAdjustment> rows;
    for (int channel = kFirstChannel; channel <= smf::kChannelCount; ++channel) {
        ChannelAdjustment row;
        row.Channel = channel;
        row.Octave = row.Velocity = row.Volume = 0;
        row.Patch = summary->programs[static_cast<std::size_t>(channel - kFirstChannel)];
        for (const AdjustOption& option : adjusts) {
            if (option.channel != channel)
                continue;
            for (const char* field : {"octave", "velocity", "volume", "patch"})
                if (std::optional<int> value = *readField(option.row, field))
                    (void)writeField(row, field, *value);
        }
        rows.push_back(row);
    }

    RewriteSettings settings;
    settings.marks.startMs = static_cast<double>(startMs.value_or(0));
    settings.marks.endMs = static_cast<double>(endMs.value_or(summary->lengthMilliseconds));
    settings.adjustments = adjustmentsFromRows(rows, summary->programs);
    std::optional<FitResult> fitted;
    if (fit) {
        Result<FitResult> found =
            fitEndMark(*source, *summary, settings.adjustments, settings.marks.startMs, compact, budget);
        if (!found)
            return failure(io, found.error(), "modify");
        fitted = *found;
        settings.marks.endMs = static_cast<double>(found->endMs);
    }
    if (auto checked = CheckMarks(settings.marks, summary->lengthMilliseconds); !checked)
        return failure(io, checked.error(), "modify");
    if (compact)
        return writeCompactedModify(io, output, *source, *summary, settings, fitted, budget, json);

    // OUT appears whole or not at all: the bytes go to a temporary file beside it, or for
    // standard output into memory, written once the rewrite is done.
    std::optional<AtomicFileWriter> writer;
    Bytes kept;
    std::size_t written = 0;
    auto sink = [&](ByteView bytes) -> Result<void> {
        written += bytes.size();
        if (toStandardOutput) {
            kept.insert(kept.end(), bytes.begin(), bytes.end());
            return {};
        }
        if (!writer) {
            Result<AtomicFileWriter> created = AtomicFileWriter::create(output);
            if (!created)
                return Error{created.error()};
            writer.emplace(std::move(created).value());
        }
        return writer->write(bytes);
    };
    // The header's track count is set right before the result is moved into place.
    auto patchHeader = [&](ByteView header) -> Result<void> {
        if (toStandardOutput && kept.size() >= header.size()) {
            std::copy(header.begin(), header.end(), kept.begin());
            return {};
        }
        if (!writer)
            return Error{"The header of \"" + output + "\" was not written"};
        return overwriteFileBytes(writer->temporaryPath(), 0, header);
    };
    Result<RewriteResult> result = rewriteMidi(*source, *summary, settings, sink, {}, patchHeader);
    if (!result)
        return failure(io, result.error(), "modify");
    if (toStandardOutput) {
        if (auto sent = writeStandardOutput(io, kept); !sent)
            return failure(io, sent.error(), "modify");
    } else if (auto committed = writer->commit(); !committed) {
        return failure(io, committed.error(), "modify");
    }

    return reportModify(io, output, ModifyOutcome{*result, written, result->tracksWritten, false},
                        settings.marks, fitted, budget, json);
}

} // namespace

std::vector<Command> midiCommands()
{
    return {
        Command{"info", "info FILE.mid [--json]",
                "Shows a MIDI file's format, tracks, division, tempo, length and each channel's program.",
                "The tempo is the last Set Tempo of the file (500000 microseconds per quarter note when\n"
                "there is none); a program of -1 (none) means the file selects no program on that\n"
                "channel. FILE.mid \"-\" reads standard input. --json prints one JSON object:\n"
                "  {\"format\": 1, \"tracks\": T, \"division\": D, \"tempo\": US, \"length_ticks\": N,\n"
                "   \"length_ms\": MS, \"programs\": {\"1\": P, ..., \"16\": P}}",
                runInfo},
        Command{
            "modify",
            "modify IN.mid OUT.mid [--start-ms S] [--end-ms E | --fit [--max-bytes N]] [--compact] [--adjust "
            "CH:octave=O,velocity=V,volume=W,patch=P]... [--json]",
            "Rewrites a MIDI file with per-channel changes and a crop, as \"Apply\" does.",
            "--start-ms, --end-ms  the crop marks in whole milliseconds (default 0 and the song's length)\n"
            "--adjust              changes for channel CH (1 to 16), any of: octave=O (whole octaves),\n"
            "                      velocity=V (added to note velocities), volume=W (added to channel\n"
            "                      volume, and set after each program change), patch=P (program 0 to\n"
            "                      127: replaces every program change of the channel when P differs\n"
            "                      from the program the file selects there, its last program change;\n"
            "                      when P is that program, or -1, the program changes are copied as read)\n"
            "--fit                 chooses the end mark: the latest whole millisecond whose result is at\n"
            "                      most N bytes (--max-bytes, 64000 by default, the ring tone limit), or\n"
            "                      the end of the song; prints the end mark chosen. Refused when even the\n"
            "                      start mark alone is over N bytes\n"
            "--compact             compacts the result as the compact command does (with its defaults)\n"
            "--json                prints {\"file\": OUT.mid, \"size\": BYTES, \"tracks\": T, \"start_ms\": "
            "S,\n"
            "                      \"end_ms\": E}, plus \"compacted\": true with --compact and with --fit\n"
            "                      \"fit\": {\"end_ms\": E, \"max_bytes\": N, \"song_end\": false,\n"
            "                      \"size_one_ms_later\": BYTES (null at the end of the song)}\n"
            "Channels not given are copied unchanged. OUT is written whole or not at all. IN.mid \"-\"\n"
            "reads standard input; OUT.mid \"-\" writes standard output once the whole file is made.",
            runModify},
        Command{
            "compact", "compact IN.mid OUT.mid [--keep-text] [--drop-sysex] [--json]",
            "Rewrites a MIDI file to fewer bytes with the same sound.",
            "Every note, controller, program change, pitch bend, pressure and Set Tempo stays at its\n"
            "millisecond. Left out: text, copyright, track and instrument names, lyrics, markers, cue\n"
            "points (kept with --keep-text), time and key signatures, sequencer-specific data, channel\n"
            "and port prefixes, a controller, program change or pitch bend that repeats the value in force\n"
            "on its channel (data entry, RPN and NRPN numbers and channel mode messages always stay), and\n"
            "tracks left empty. Running status throughout; a Note Off of release velocity 0 or 64 becomes\n"
            "a Note On of velocity 0 (other release velocities are kept); the shortest deltas; one merged\n"
            "track (format 0) when that is smaller. System exclusive events stay unless --drop-sysex.\n"
            "Prints the size before and after and the events removed of each kind. OUT is written whole\n"
            "or not at all; IN.mid \"-\" reads standard input, OUT.mid \"-\" writes standard output (the\n"
            "report then goes to standard error). --json prints\n"
            "  {\"file\": OUT.mid, \"size_before\": B, \"size_after\": A, \"format\": F, \"tracks\": T,\n"
            "   \"removed\": {\"text\": N, ...}, \"note_offs_rewritten\": N, \"status_bytes_saved\": N,\n"
            "   \"kept_source\": false}",
            runCompact},
    };
}

} // namespace chwr::cli
