#include "ringtone_db/ring_tone_files.h"

#include "shell/file_helpers.h"
#include "shell/file_io.h"
#include "shell/program_folder.h"
#include "shell/windows1252.h"

#include <algorithm>
#include <optional>
#include <system_error>
#include <utility>

namespace chwr {
namespace fs = std::filesystem;

namespace {

// The extension of an exported ring tone and of a backup beside the database.
constexpr const char* kMidiExtension = ".mid";
constexpr const char* kBackupExtension = ".bak";

struct ReadDatabase {
    Bytes file;
    RingToneDatabase database;
};

Result<ReadDatabase> readAndDecode(const fs::path& path)
{
    if (!FileExists(path))
        return Error{kDatabaseMissingMessage + path.string()};
    Result<Bytes> file = readFileBytes(path, kMaxDatabaseBytes);
    if (!file)
        return Error{file.error()};
    Result<RingToneDatabase> database = RingToneDatabase::decode(*file);
    if (!database)
        return Error{"The ring tone database \"" + path.string() + "\" is damaged: " + database.error() +
                     "."};
    return ReadDatabase{std::move(file).value(), std::move(database).value()};
}

bool isSameFile(const fs::path& a, const fs::path& b)
{
    std::error_code error;
    if (fs::equivalent(a, b, error))
        return true;
    return fs::weakly_canonical(fs::absolute(a, error), error) ==
           fs::weakly_canonical(fs::absolute(b, error), error);
}

} // namespace

Result<RingToneDatabase> readRingToneDatabase(const fs::path& database)
{
    Result<ReadDatabase> read = readAndDecode(database);
    if (!read)
        return Error{read.error()};
    return std::move(read->database);
}

Bytes headerSnapshot(ByteView file, const PdbHeader& header)
{
    const std::size_t listEnd = kPdbHeaderSize + kRecordListEntrySize * header.recordCount();
    Bytes snapshot(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(std::min(listEnd, file.size())));
    snapshot.push_back(0x00);
    return snapshot;
}

Result<RingToneDatabase> loadRingTones(const fs::path& database)
{
    Result<ReadDatabase> read = readAndDecode(database);
    if (!read)
        return Error{read.error()};
    Result<fs::path> folder = ensureProgramFolder();
    if (!folder)
        return Error{folder.error()};
    Bytes snapshot = headerSnapshot(read->file, read->database.header());
    if (auto written = writeFileAtomic(*folder / kHeaderSnapshotFileName, snapshot); !written)
        return Error{"The header snapshot was not written: " + written.error()};
    return std::move(read->database);
}

Result<std::size_t> addMidiFileNamed(RingToneDatabase& database, const fs::path& file, ByteView name)
{
    if (!database.isLoaded())
        return Error{kNoRingTonesLoadedMessage};
    if (auto named = checkRingToneName(TrimAtNul(name)); !named)
        return Error{named.error()};
    std::error_code error;
    if (std::uintmax_t size = fs::file_size(file, error); !error && size > kMaxMidiFileBytes)
        return Error{kMidiFileTooLargeMessage};
    Result<Bytes> bytes = readFileBytes(file, kMaxMidiFileBytes);
    if (!bytes)
        return Error{bytes.error()};
    return database.addRingTone(name, *bytes);
}

Result<std::size_t> addMidiFile(RingToneDatabase& database, const fs::path& file, const std::string& title)
{
    const std::string stem = NameStem(title.empty() ? file.filename().string() : title);
    Bytes name = database.uniqueRingToneName(utf8ToWindows1252(stem));
    return addMidiFileNamed(database, file, name);
}

Result<UpdateOutcome> updateRingTones(RingToneDatabase& database, const fs::path& databasePath,
                                      const fs::path& backupPath, InstallHandoff* handoff)
{
    if (!database.isLoaded())
        return Error{kNoRingTonesLoadedMessage};
    if (isSameFile(databasePath, backupPath))
        return Error{"The backup \"" + backupPath.string() + "\" would be the ring tone database itself."};
    Result<Bytes> bytes = database.encode();
    if (!bytes)
        return Error{bytes.error()};

    const std::string notWritten = "The ring tone database was not written: ";
    Result<AtomicFileWriter> writer = AtomicFileWriter::create(databasePath);
    if (!writer)
        return Error{notWritten + writer.error()};
    if (auto written = writer->write(*bytes); !written)
        return Error{notWritten + written.error()};
    if (auto prepared = writer->prepare(); !prepared)
        return Error{notWritten + prepared.error()};

    // The backup generation: a second name for the current database file, made before the
    // new file is renamed over the database path, so that path always holds a whole
    // database and the backup costs no copy.
    const std::string noBackup = "The backup could not be made, so the ring tone database was not written: ";
    std::optional<Bytes> droppedBackup;
    if (FileExists(databasePath)) {
        if (auto linked = linkOrCopyFile(databasePath, backupPath); !linked)
            return Error{noBackup + linked.error()};
    } else if (FileExists(backupPath)) {
        // Without a database the old backup is dropped, but its bytes are kept until the
        // new database is in place, so that a failure there does not lose them too.
        Result<Bytes> old = readFileBytes(backupPath, kMaxDatabaseBytes);
        if (!old)
            return Error{noBackup + old.error()};
        if (auto removed = removeFile(backupPath); !removed)
            return Error{noBackup + removed.error()};
        droppedBackup = std::move(old).value();
    }
    if (auto committed = writer->commitPrepared(); !committed) {
        if (droppedBackup) {
            if (auto restored = writeFileAtomic(backupPath, *droppedBackup); !restored)
                return Error{notWritten + committed.error() + " The old backup could not be put back: " +
                             restored.error()};
        }
        return Error{notWritten + committed.error()};
    }
    database.markWritten();

    UpdateOutcome outcome;
    if (handoff) {
        Result<std::string> installed = handoff->install(databasePath);
        outcome.handedOff = installed.ok();
        outcome.installMessage = installed ? *installed : installed.error();
    }
    return outcome;
}

fs::path backupBeside(const fs::path& databasePath)
{
    return databasePath.parent_path() / (databasePath.stem().string() + kBackupExtension);
}

Result<void> exportRingTone(const RingToneDatabase& database, std::size_t index, const fs::path& file)
{
    if (index >= database.ringTones().size())
        return Error{"There is no ring tone " + std::to_string(index + 1) + "."};
    return writeFileAtomic(file, database.ringTones()[index].midiData());
}

std::string exportFileName(const RingToneRecord& ringTone, const fs::path& folder)
{
    return UniqueFileName(folder, SafeFileName(windows1252ToUtf8(ringTone.name)) + kMidiExtension);
}

} // namespace chwr
