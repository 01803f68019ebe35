#include "cli/command.h"

#include "midi_edit/fit_end_mark.h"
#include "ringtone_db/ring_tone_files.h"
#include "ringtone_db/standard_midi_file.h"
#include "shell/file_helpers.h"
#include "shell/file_io.h"
#include "shell/install_handoff.h"
#include "shell/windows1252.h"

#include <charconv>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <system_error>

namespace chwr::cli {

namespace {

namespace fs = std::filesystem;

constexpr const char* kNoInstallFlag = "--no-install";

// A ring tone index as the user counts (from 1). Text that is not a whole number is a
// usage error; a number outside the list is refused.
enum class IndexParse { Ok, NotANumber, OutOfList };

IndexParse parseIndex(const std::string& text, const RingToneDatabase& database, std::size_t& index)
{
    long long value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (stop != end || text.empty() || (error != std::errc() && error != std::errc::result_out_of_range))
        return IndexParse::NotANumber;
    if (error == std::errc::result_out_of_range || value < 1 ||
        static_cast<unsigned long long>(value) > database.ringTones().size())
        return IndexParse::OutOfList;
    index = static_cast<std::size_t>(value - 1);
    return IndexParse::Ok;
}

std::string outOfListMessage(const std::string& text, const RingToneDatabase& database)
{
    const std::size_t count = database.ringTones().size();
    if (count == 0)
        return "There is no ring tone " + text + ": the database holds no ring tones.";
    return "There is no ring tone " + text + ": the ring tones are numbered 1 to " + std::to_string(count) +
           ".";
}

// A name as one field of a tab-separated line: control characters become spaces.
std::string nameForLine(const RingToneRecord& tone)
{
    std::string name = windows1252ToUtf8(tone.name);
    for (char& c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    }
    return name;
}

// The ring tones as list --json prints them; `asWritten` gives the header that a write of
// the database in memory gives the file (its ring tones counted, the modnumber one more).
Json databaseJson(const RingToneDatabase& database, bool asWritten = false)
{
    Json tones = Json::array();
    for (std::size_t i = 0; i < database.ringTones().size(); ++i) {
        const RingToneRecord& tone = database.ringTones()[i];
        tones.push_back({{"index", i + 1},
                         {"name", windows1252ToUtf8(tone.name)},
                         {"size", tone.size},
                         {"added", tone.carriesAddedMark()}});
    }
    const PdbHeader& header = database.header();
    return {{"records", asWritten ? database.ringTones().size() : std::size_t{header.recordCount()}},
            {"modnumber", static_cast<std::uint32_t>(header.modificationNumber() + (asWritten ? 1U : 0U))},
            {"ringtones", std::move(tones)}};
}

// The database read under its write lock, which the write that follows lets go: another
// chwr writing the same database waits, so neither loses the other's ring tones.
struct LockedDatabase {
    RingToneDatabase database;
    UpdateGuard guard;
};

std::optional<LockedDatabase> lockAndRead(Streams io, const fs::path& path, int& exitCode)
{
    Result<FolderLock> lock = lockRingToneDatabase(path);
    if (!lock) {
        exitCode = failure(io, lock.error());
        return std::nullopt;
    }
    LoadedFileIdentity loaded;
    Result<RingToneDatabase> database = readRingToneDatabase(path, &loaded);
    if (!database) {
        exitCode = failure(io, database.error());
        return std::nullopt;
    }
    return LockedDatabase{std::move(database).value(), UpdateGuard{loaded, std::move(lock).value()}};
}

// Writes the database with its backup beside it (beside the file a link points to) and
// hands it to the install tool unless the user said --no-install. With --json, `report`
// gets "install" (null without a hand-off) and is printed; else linesOnSuccess are.
// Exit status of the command.
int writeAndInstall(Streams io, LockedDatabase& locked, const fs::path& path, bool install,
                    const std::vector<std::string>& linesOnSuccess, Json report = {})
{
    std::unique_ptr<InstallHandoff> handoff = install ? makeSystemInstallHandoff() : nullptr;
    // A database given through a link keeps its backup beside the file it points to.
    std::error_code error;
    Result<fs::path> target = resolveWriteTarget(path);
    const fs::path backup = backupBeside(fs::is_symlink(path, error) && target ? *target : path);
    Result<UpdateOutcome> outcome =
        updateRingTones(locked.database, path, backup, handoff.get(), std::move(locked.guard));
    if (!outcome)
        return failure(io, outcome.error());
    if (handoff && !outcome->handedOff) {
        io.err << "chwr: the database was written, but not handed to the install tool: "
               << outcome->installMessage << "\n";
    }
    if (io.json) {
        report["install"] =
            handoff ? Json{{"handed_off", outcome->handedOff}, {"message", outcome->installMessage}} : Json();
        printJson(io.out, report);
        return kExitOk;
    }
    for (const std::string& line : linesOnSuccess)
        io.out << line << "\n";
    if (handoff && outcome->handedOff)
        io.out << outcome->installMessage << "\n" << kHotSyncNotice << "\n";
    return kExitOk;
}

int runList(CommandArgs& args, Streams io)
{
    bool json = false;
    args.flag("--json", json);
    if (std::optional<int> done = args.parse(io))
        return *done;
    if (args.positional().size() != 1)
        return args.usageError(io, "expects one database");
    io.json = json;
    Result<RingToneDatabase> database = readRingToneDatabase(args.positional()[0]);
    if (!database)
        return failure(io, database.error());

    if (json) {
        printJson(io.out, databaseJson(*database));
        return kExitOk;
    }
    const auto& tones = database->ringTones();
    std::ostringstream out;
    for (std::size_t i = 0; i < tones.size(); ++i) {
        out << i + 1 << "\t" << nameForLine(tones[i]) << "\t" << tones[i].size << "\t"
            << (tones[i].carriesAddedMark() ? "x" : "") << "\n";
    }
    io.out << out.str();
    return kExitOk;
}

static_assert(kRingToneBudgetBytes == kMaxMidiFileBytes, "the fit aims at the ring tone limit");

// add --fit for a file over the ring tone limit: its song compacted and, when still over,
// cropped from its start at the fitted end mark; named as addMidiFile() names. What was
// done goes into `fitted` and, as a line, to standard error.
Result<std::size_t> addFittedMidiFile(Streams io, RingToneDatabase& database, const fs::path& file,
                                      const std::string& title, Json& fitted)
{
    Result<Bytes> bytes = readFileBytes(file);
    if (!bytes)
        return Error{bytes.error()};
    Result<ByteView> song = standardMidiFileIn(*bytes);
    if (!song)
        return Error{song.error()};
    Result<FittedSong> made = fitSong(*song, kMaxMidiFileBytes);
    if (!made)
        return Error{made.error()};
    const std::string stem = NameStem(title.empty() ? file.filename().string() : title);
    Result<std::size_t> index =
        database.addRingTone(database.uniqueRingToneName(utf8ToWindows1252(stem)), made->bytes);
    if (!index)
        return index;
    const std::optional<FitResult>& fit = made->fit;
    fitted.push_back(Json{{"file", file.string()},
                          {"size_before", song->size()},
                          {"size", made->bytes.size()},
                          {"end_ms", fit ? Json(fit->endMs) : Json(nullptr)}});
    if (!io.json) {
        io.err << "chwr add: " << file.string() << " was " << song->size() << " bytes: compacted";
        if (fit)
            io.err << " and cropped at " << fit->endMs << " ms";
        io.err << " to " << made->bytes.size() << " bytes\n";
    }
    return index;
}

int runAdd(CommandArgs& args, Streams io)
{
    bool json = false;
    bool noInstall = false;
    bool fit = false;
    std::vector<std::string> names;
    args.option("--name", "NAME", names);
    args.flag(kNoInstallFlag, noInstall);
    args.flag("--fit", fit);
    args.flag("--json", json);
    if (std::optional<int> done = args.parse(io))
        return *done;
    const std::vector<std::string>& positional = args.positional();
    if (positional.size() < 2)
        return args.usageError(io, "expects a database and at least one MIDI file");
    if (names.size() > 1)
        return args.usageError(io, "--name is given once");
    if (!names.empty() && positional.size() != 2)
        return args.usageError(io, "--name goes with one MIDI file only");
    io.json = json;

    const fs::path path = positional[0];
    int exitCode = kExitOk;
    std::optional<LockedDatabase> locked = lockAndRead(io, path, exitCode);
    if (!locked)
        return exitCode;
    RingToneDatabase& database = locked->database;
    std::vector<std::string> added;
    Json fitted = Json::array();
    for (std::size_t i = 1; i < positional.size(); ++i) {
        const fs::path file = positional[i];
        const std::string title = names.empty() ? std::string() : names.front();
        Result<std::size_t> index = addMidiFile(database, file, title);
        if (!index && fit && index.error() == kMidiFileTooLargeMessage)
            index = addFittedMidiFile(io, database, file, title, fitted);
        if (!index)
            return failure(io, file.string() + ": " + index.error());
        added.push_back(windows1252ToUtf8(database.ringTones()[*index].name));
    }
    Json report{{"added", added}};
    if (fit)
        report["fitted"] = std::move(fitted);
    return writeAndInstall(io, *locked, path, !noInstall, added, std::move(report));
}

// Reads the database named first (under its write lock when `forWriting`) and picks the
// ring tone numbered second. Nothing on failure, with exitCode set to what the command
// returns.
std::optional<LockedDatabase> readSelected(Streams io, const CommandArgs& args, bool forWriting,
                                           std::size_t& index, int& exitCode)
{
    const std::vector<std::string>& positional = args.positional();
    std::optional<LockedDatabase> database;
    if (forWriting) {
        database = lockAndRead(io, positional[0], exitCode);
        if (!database)
            return std::nullopt;
    } else {
        Result<RingToneDatabase> read = readRingToneDatabase(positional[0]);
        if (!read) {
            exitCode = failure(io, read.error());
            return std::nullopt;
        }
        database.emplace(LockedDatabase{std::move(read).value(), {}});
    }
    switch (parseIndex(positional[1], database->database, index)) {
    case IndexParse::NotANumber:
        exitCode = args.usageError(io, "INDEX must be a whole number");
        return std::nullopt;
    case IndexParse::OutOfList:
        exitCode = failure(io, outOfListMessage(positional[1], database->database));
        return std::nullopt;
    case IndexParse::Ok:
        break;
    }
    return database;
}

int runExport(CommandArgs& args, Streams io)
{
    bool json = false;
    args.flag("--json", json);
    if (std::optional<int> done = args.parse(io))
        return *done;
    if (args.positional().size() != 3)
        return args.usageError(io, "expects a database, a ring tone number and an output file");
    const std::string& output = args.positional()[2];
    if (json && isStandardStream(output))
        return args.usageError(io, "--json and the MIDI data cannot both go to standard output");
    io.json = json;
    std::size_t index = 0;
    int exitCode = kExitOk;
    std::optional<LockedDatabase> database = readSelected(io, args, false, index, exitCode);
    if (!database)
        return exitCode;
    const ByteView data = database->database.ringTones()[index].midiData();
    if (isStandardStream(output)) {
        if (auto written = writeStandardOutput(io, data); !written)
            return failure(io, written.error());
        return kExitOk;
    }
    if (auto exported = exportRingTone(database->database, index, output, args.positional()[0]); !exported)
        return failure(io, exported.error());
    if (json)
        printJson(io.out, Json{{"file", output}, {"size", data.size()}});
    return kExitOk;
}

// remove and rename: the change, then the write; --json prints the list as written.
int changeAndWrite(CommandArgs& args, Streams io, std::size_t positionalCount, const std::string& expects,
                   const std::function<Result<void>(RingToneDatabase&, std::size_t)>& change)
{
    bool json = false;
    bool noInstall = false;
    args.flag(kNoInstallFlag, noInstall);
    args.flag("--json", json);
    if (std::optional<int> done = args.parse(io))
        return *done;
    if (args.positional().size() != positionalCount)
        return args.usageError(io, expects);
    io.json = json;
    std::size_t index = 0;
    int exitCode = kExitOk;
    std::optional<LockedDatabase> database = readSelected(io, args, true, index, exitCode);
    if (!database)
        return exitCode;
    if (auto changed = change(database->database, index); !changed)
        return failure(io, changed.error());
    const Json report = json ? databaseJson(database->database, true) : Json();
    return writeAndInstall(io, *database, args.positional()[0], !noInstall, {}, report);
}

int runRemove(CommandArgs& args, Streams io)
{
    return changeAndWrite(
        args, io, 2, "expects a database and a ring tone number",
        [](RingToneDatabase& database, std::size_t index) { return database.removeRingTone(index); });
}

int runRename(CommandArgs& args, Streams io)
{
    return changeAndWrite(args, io, 3, "expects a database, a ring tone number and a name",
                          [&args](RingToneDatabase& database, std::size_t index) {
                              return database.renameRingTone(index, utf8ToWindows1252(args.positional()[2]));
                          });
}

} // namespace

std::vector<Command> ringToneCommands()
{
    const std::string writes =
        "The database is written whole to a temporary file and moved into place; the database as it was\n"
        "becomes the backup beside it (its name without the last extension, plus \".bak\"). A database\n"
        "given through a symbolic link is written where the link points, with the mode it had. The\n"
        "written database is then handed to the install tool for the next HotSync; --no-install\n"
        "skips that. On any failure the database is left as it was. Another program writing the same\n"
        "database is waited for up to five seconds, then the command is refused.\n\n"
        "--json adds \"install\": {\"handed_off\": true, \"message\": \"...\"} (null with --no-install) to\n"
        "what it prints.";
    return {
        {"list", "list DB [--json]", "Lists the ring tones of a ring tone database.",
         "One line per ring tone: INDEX, NAME, SIZE and \"x\" for a ring tone whose data ends with the\n"
         "\"@\" mark of an added ring tone, separated by tabs. Control characters in names are shown as\n"
         "spaces; --json gives the names exactly, with the header's record count and modification\n"
         "number:\n"
         "  {\"records\": N, \"modnumber\": M, \"ringtones\": [{\"index\": 1, \"name\": \"...\", \"size\": "
         "S, "
         "\"added\": true}]}",
         runList},
        {"add", "add DB FILE.mid... [--name NAME] [--fit] [--no-install] [--json]",
         "Adds Standard MIDI Files of at most 64000 bytes as ring tones and writes the database.",
         "Each ring tone is named after the stem of its file name (or of NAME, for one file): the\n"
         "name cut before its first \" (\" or else its first \".\", made unique with \" (1)\", \" (2)\", "
         "...\n"
         "Its data is the file's bytes plus the \"@\" mark; of a RIFF MIDI file (.rmi), the Standard MIDI\n"
         "File inside it. Any other file is refused. Prints each new ring tone's name. When one file is\n"
         "refused, nothing is written. --json prints {\"added\": [\"NAME\", ...], \"install\": ...}.\n"
         "--fit  a file over 64000 bytes is compacted (as the compact command does) and, when still\n"
         "       over, cropped from its start at the latest end mark that fits; standard error tells\n"
         "       what was done, --json adds \"fitted\": [{\"file\": F, \"size_before\": B, \"size\": S,\n"
         "       \"end_ms\": E (null when not cropped)}]. A song whose start alone does not fit is "
         "refused.\n\n" +
             writes,
         runAdd},
        {"export", "export DB INDEX OUT.mid [--json]", "Writes a ring tone's MIDI data to a file.",
         "The data is written exactly as the ring tone holds it, an \"@\" mark at its end included.\n"
         "An existing OUT.mid is replaced whole or not at all; the database itself never is. OUT.mid \"-\"\n"
         "writes the data to standard output. --json prints {\"file\": OUT.mid, \"size\": BYTES}.",
         runExport},
        {"remove", "remove DB INDEX [--no-install] [--json]", "Removes a ring tone and writes the database.",
         "--json prints the ring tones as written, as list --json does.\n\n" + writes, runRemove},
        {"rename", "rename DB INDEX NAME [--no-install] [--json]",
         "Renames a ring tone and writes the database.",
         "NAME is taken as given, at most 248 bytes in the Windows-1252 code page; characters that\n"
         "code page cannot hold become \"?\". --json prints the ring tones as written, as list --json "
         "does.\n\n" +
             writes,
         runRename},
    };
}

} // namespace chwr::cli
