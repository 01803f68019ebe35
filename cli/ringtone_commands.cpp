#include "cli/command.h"

#include "ringtone_db/ring_tone_files.h"
#include "shell/install_handoff.h"
#include "shell/windows1252.h"

#include <charconv>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>

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

std::string jsonString(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20) {
            static constexpr char hex[] = "0123456789abcdef";
            quoted += "\\u00";
            quoted += hex[byte >> 4];
            quoted += hex[byte & 0xF];
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

// Writes the database with its backup beside it and hands it to the install tool
// unless the user said --no-install. Exit status of the command.
int writeAndInstall(Streams io, RingToneDatabase& database, const fs::path& path, bool install,
                    const std::vector<std::string>& linesOnSuccess)
{
    std::unique_ptr<InstallHandoff> handoff = install ? makeSystemInstallHandoff() : nullptr;
    Result<UpdateOutcome> outcome = updateRingTones(database, path, backupBeside(path), handoff.get());
    if (!outcome)
        return failure(io, outcome.error());
    for (const std::string& line : linesOnSuccess)
        io.out << line << "\n";
    if (handoff) {
        if (outcome->handedOff) {
            io.out << outcome->installMessage << "\n" << kHotSyncNotice << "\n";
        } else {
            io.err << "chwr: the database was written, but not handed to the install tool: "
                   << outcome->installMessage << "\n";
        }
    }
    return kExitOk;
}

int runList(const std::vector<std::string>& args, Streams io)
{
    const std::string synopsis = "list DB [--json]";
    ParsedArgs parsed;
    std::string error;
    if (!parseArgs(args, {}, {"--json"}, parsed, error))
        return usageError(io, "list", synopsis, error);
    if (parsed.positional.size() != 1)
        return usageError(io, "list", synopsis, "expects one database");
    Result<RingToneDatabase> database = readRingToneDatabase(parsed.positional[0]);
    if (!database)
        return failure(io, database.error());

    const auto& tones = database->ringTones();
    std::ostringstream out;
    if (parsed.has("--json")) {
        out << "{\"records\": " << database->header().recordCount()
            << ", \"modnumber\": " << database->header().modificationNumber() << ", \"ringtones\": [";
        for (std::size_t i = 0; i < tones.size(); ++i) {
            out << (i ? ", " : "") << "{\"index\": " << i + 1
                << ", \"name\": " << jsonString(windows1252ToUtf8(tones[i].name))
                << ", \"size\": " << tones[i].size
                << ", \"added\": " << (tones[i].carriesAddedMark() ? "true" : "false") << "}";
        }
        out << "]}\n";
    } else {
        for (std::size_t i = 0; i < tones.size(); ++i) {
            out << i + 1 << "\t" << nameForLine(tones[i]) << "\t" << tones[i].size << "\t"
                << (tones[i].carriesAddedMark() ? "x" : "") << "\n";
        }
    }
    io.out << out.str();
    return kExitOk;
}

int runAdd(const std::vector<std::string>& args, Streams io)
{
    const std::string synopsis = "add DB FILE.mid... [--name NAME] [--no-install]";
    ParsedArgs parsed;
    std::string error;
    if (!parseArgs(args, {"--name"}, {kNoInstallFlag}, parsed, error))
        return usageError(io, "add", synopsis, error);
    if (parsed.positional.size() < 2)
        return usageError(io, "add", synopsis, "expects a database and at least one MIDI file");
    const std::vector<std::string>* names = parsed.values("--name");
    if (names && names->size() > 1)
        return usageError(io, "add", synopsis, "--name is given once");
    if (names && parsed.positional.size() != 2)
        return usageError(io, "add", synopsis, "--name goes with one MIDI file only");

    const fs::path path = parsed.positional[0];
    Result<RingToneDatabase> database = readRingToneDatabase(path);
    if (!database)
        return failure(io, database.error());
    std::vector<std::string> added;
    for (std::size_t i = 1; i < parsed.positional.size(); ++i) {
        const fs::path file = parsed.positional[i];
        Result<std::size_t> index = addMidiFile(*database, file, names ? names->front() : std::string());
        if (!index)
            return failure(io, file.string() + ": " + index.error());
        added.push_back(windows1252ToUtf8(database->ringTones()[*index].name));
    }
    return writeAndInstall(io, *database, path, !parsed.has(kNoInstallFlag), added);
}

// Reads the database named first and picks the ring tone numbered second. Nothing on
// failure, with exitCode set to what the command returns.
std::optional<RingToneDatabase> readSelected(Streams io, const std::string& command, const std::string& synopsis,
                                             const ParsedArgs& parsed, std::size_t& index, int& exitCode)
{
    Result<RingToneDatabase> database = readRingToneDatabase(parsed.positional[0]);
    if (!database) {
        exitCode = failure(io, database.error());
        return std::nullopt;
    }
    switch (parseIndex(parsed.positional[1], *database, index)) {
    case IndexParse::NotANumber:
        exitCode = usageError(io, command, synopsis, "INDEX must be a whole number");
        return std::nullopt;
    case IndexParse::OutOfList:
        exitCode = failure(io, outOfListMessage(parsed.positional[1], *database));
        return std::nullopt;
    case IndexParse::Ok:
        break;
    }
    return std::move(database).value();
}

int runExport(const std::vector<std::string>& args, Streams io)
{
    const std::string synopsis = "export DB INDEX OUT.mid";
    ParsedArgs parsed;
    std::string error;
    if (!parseArgs(args, {}, {}, parsed, error))
        return usageError(io, "export", synopsis, error);
    if (parsed.positional.size() != 3)
        return usageError(io, "export", synopsis,
                          "expects a database, a ring tone number and an output file");
    std::size_t index = 0;
    int exitCode = kExitOk;
    std::optional<RingToneDatabase> database = readSelected(io, "export", synopsis, parsed, index, exitCode);
    if (!database)
        return exitCode;
    if (auto exported = exportRingTone(*database, index, parsed.positional[2]); !exported)
        return failure(io, exported.error());
    return kExitOk;
}

int runRemove(const std::vector<std::string>& args, Streams io)
{
    const std::string synopsis = "remove DB INDEX [--no-install]";
    ParsedArgs parsed;
    std::string error;
    if (!parseArgs(args, {}, {kNoInstallFlag}, parsed, error))
        return usageError(io, "remove", synopsis, error);
    if (parsed.positional.size() != 2)
        return usageError(io, "remove", synopsis, "expects a database and a ring tone number");
    const fs::path path = parsed.positional[0];
    std::size_t index = 0;
    int exitCode = kExitOk;
    std::optional<RingToneDatabase> database = readSelected(io, "remove", synopsis, parsed, index, exitCode);
    if (!database)
        return exitCode;
    if (auto removed = database->removeRingTone(index); !removed)
        return failure(io, removed.error());
    return writeAndInstall(io, *database, path, !parsed.has(kNoInstallFlag), {});
}

int runRename(const std::vector<std::string>& args, Streams io)
{
    const std::string synopsis = "rename DB INDEX NAME [--no-install]";
    ParsedArgs parsed;
    std::string error;
    if (!parseArgs(args, {}, {kNoInstallFlag}, parsed, error))
        return usageError(io, "rename", synopsis, error);
    if (parsed.positional.size() != 3)
        return usageError(io, "rename", synopsis, "expects a database, a ring tone number and a name");
    const fs::path path = parsed.positional[0];
    std::size_t index = 0;
    int exitCode = kExitOk;
    std::optional<RingToneDatabase> database = readSelected(io, "rename", synopsis, parsed, index, exitCode);
    if (!database)
        return exitCode;
    if (auto renamed = database->renameRingTone(index, utf8ToWindows1252(parsed.positional[2])); !renamed)
        return failure(io, renamed.error());
    return writeAndInstall(io, *database, path, !parsed.has(kNoInstallFlag), {});
}

} // namespace

std::vector<Command> ringToneCommands()
{
    const std::string writes =
        "The database is written whole to a temporary file and moved into place; the database as it was\n"
        "becomes the backup beside it (its name without the last extension, plus \".bak\"). The\n"
        "written database is then handed to the install tool for the next HotSync; --no-install\n"
        "skips that. On any failure the database is left as it was.";
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
        {"add", "add DB FILE.mid... [--name NAME] [--no-install]",
         "Adds Standard MIDI Files of at most 64000 bytes as ring tones and writes the database.",
         "Each ring tone is named after the stem of its file name (or of NAME, for one file): the\n"
         "name cut before its first \" (\" or else its first \".\", made unique with \" (1)\", \" (2)\", "
         "...\n"
         "Its data is the file's bytes plus the \"@\" mark. Prints each new ring tone's name. When one\n"
         "file is refused, nothing is written.\n\n" +
             writes,
         runAdd},
        {"export", "export DB INDEX OUT.mid", "Writes a ring tone's MIDI data to a file.",
         "The data is written exactly as the ring tone holds it, an \"@\" mark at its end included.\n"
         "An existing OUT.mid is replaced.",
         runExport},
        {"remove", "remove DB INDEX [--no-install]", "Removes a ring tone and writes the database.", writes,
         runRemove},
        {"rename", "rename DB INDEX NAME [--no-install]", "Renames a ring tone and writes the database.",
         "NAME is taken as given, at most 248 bytes in the Windows-1252 code page; characters that\n"
         "code page cannot hold become \"?\".\n\n" +
             writes,
         runRename},
    };
}

} // namespace chwr::cli
