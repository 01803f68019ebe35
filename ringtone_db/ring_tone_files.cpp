#include "ringtone_db/ring_tone_files.h"

#include "ringtone_db/standard_midi_file.h"
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

Result<ReadDatabase> readAndDecode(const fs::path& path, LoadedFileIdentity* loaded)
{
    std::error_code error;
    if (fs::status(path, error).type() == fs::file_type::not_found)
        return Error{kDatabaseMissingMessage + path.string()};
    FileIdentity identity;
    Result<Bytes> file = readFileBytes(path, kMaxDatabaseBytes, &identity);
    if (!file)
        return Error{file.error()};
    Result<RingToneDatabase> database = RingToneDatabase::decode(*file);
    if (!database)
        return Error{"The ring tone database \"" + path.string() + "\" is damaged: " + database.error() +
                     "."};
    if (loaded) {
        Result<fs::path> resolved = resolveWriteTarget(path);
        *loaded = LoadedFileIdentity{resolved ? *resolved : fs::absolute(path, error), identity};
    }
    return ReadDatabase{std::move(file).value(), std::move(database).value()};
}

// The new database in place of the old one, under the write lock: the checks, the new
// file flushed, the backup, the rename. The identity of the file written.
Result<LoadedFileIdentity> replaceDatabase(RingToneDatabase& database, const fs::path& target,
                                           const fs::path& backup, const fs::path& databasePath,
                                           const UpdateGuard& guard, ByteView bytes)
{
    const std::string notWritten = "The ring tone database was not written: ";
    if (guard.expected) {
        if (guard.expected->path != target)
            return Error{"The ring tones were loaded from \"" + guard.expected->path.string() +
                         "\", not from \"" + target.string() +
                         "\"; nothing was written. Load that database first."};
        Result<FileIdentity> now = fileIdentity(target);
        if (!now || *now != guard.expected->file)
            return Error{kDatabaseChangedMessage};
    }
    // A second name of the database (a hard link) would keep the old ring tones once the
    // new file is renamed into place: the two would part without a word. The one second
    // name allowed is the backup, left so by a write that stopped between its two renames.
    std::error_code error;
    if (const std::uintmax_t names = fs::hard_link_count(target, error);
        !error && names > 1 && !(names == 2 && fs::equivalent(target, backup, error))) {
        return Error{
            "The ring tone database \"" + databasePath.string() + "\" has " + std::to_string(names - 1) +
            " other name(s) on the disk (hard links), which a new file in its place would leave "
            "with the old ring tones; nothing was written. Make it a file of its own and try again."};
    }

    Result<AtomicFileWriter> writer = AtomicFileWriter::create(target);
    if (!writer)
        return Error{notWritten + writer.error()};
    if (auto written = writer->write(bytes); !written)
        return Error{notWritten + written.error()};
    if (auto prepared = writer->prepare(); !prepared)
        return Error{notWritten + prepared.error()};

    // The backup generation: a second name for the current database file, made before the
    // new file is renamed over the database path, so that path always holds a whole
    // database and the backup costs no copy.
    const std::string noBackup = "The backup could not be made, so the ring tone database was not written: ";
    std::optional<Bytes> droppedBackup;
    if (FileExists(target)) {
        if (auto linked = linkOrCopyFile(target, backup); !linked)
            return Error{noBackup + linked.error()};
    } else if (FileExists(backup)) {
        // Without a database the old backup is dropped, but its bytes are kept until the
        // new database is in place, so that a failure there does not lose them too.
        Result<Bytes> old = readFileBytes(backup, kMaxDatabaseBytes);
        if (!old)
            return Error{noBackup + old.error()};
        if (auto removed = removeFile(backup); !removed)
            return Error{noBackup + removed.error()};
        droppedBackup = std::move(old).value();
    }
    if (auto committed = writer->commitPrepared(); !committed) {
        // In place but its folder not flushed: written, and the message says what is at risk.
        if (writer->inPlace()) {
            database.markWritten();
            return Error{committed.error()};
        }
        if (droppedBackup) {
            if (auto restored = writeFileAtomic(backup, *droppedBackup); !restored)
                return Error{notWritten + committed.error() +
                             " The old backup could not be put back: " + restored.error()};
        }
        return Error{notWritten + committed.error()};
    }
    database.markWritten();
    Result<FileIdentity> written = fileIdentity(target);
    return LoadedFileIdentity{target, written ? *written : FileIdentity{}};
}

} // namespace

Result<RingToneDatabase> readRingToneDatabase(const fs::path& database, LoadedFileIdentity* loaded)
{
    Result<ReadDatabase> read = readAndDecode(database, loaded);
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

Result<RingToneDatabase> loadRingTones(const fs::path& database, LoadedFileIdentity* loaded)
{
    Result<ReadDatabase> read = readAndDecode(database, loaded);
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

Result<FolderLock> lockRingToneDatabase(const fs::path& database, std::chrono::milliseconds wait)
{
    Result<fs::path> target = resolveWriteTarget(database);
    if (!target)
        return Error{target.error()};
    std::error_code error;
    if (!fs::is_directory(target->parent_path(), error))
        return Error{kDatabaseMissingMessage + database.string()};
    return FolderLock::acquire(target->parent_path(), kDatabaseBusyMessage, wait);
}

Result<std::size_t> addMidiFileNamed(RingToneDatabase& database, const fs::path& file, ByteView name)
{
    if (!database.isLoaded())
        return Error{kNoRingTonesLoadedMessage};
    if (auto named = checkRingToneName(TrimAtNul(name)); !named)
        return Error{named.error()};
    // The size comes first: a file too large for a ring tone is refused as such, whatever
    // it holds. Only a RIFF MIDI file may be larger, by the chunks around its song.
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    if (!error && size > std::max(kMaxMidiFileBytes, kMaxRiffMidiFileBytes))
        return Error{kMidiFileTooLargeMessage};
    Result<Bytes> bytes = readFileBytes(file, kMaxRiffMidiFileBytes);
    if (!bytes)
        return Error{bytes.error()};
    if (bytes->size() > kMaxMidiFileBytes && !isRiffMidiFile(*bytes))
        return Error{kMidiFileTooLargeMessage};
    Result<ByteView> song = standardMidiFileIn(*bytes);
    if (!song)
        return Error{song.error()};
    if (song->size() > kMaxMidiFileBytes)
        return Error{kMidiFileTooLargeMessage};
    return database.addRingTone(name, *song);
}

Result<std::size_t> addMidiFile(RingToneDatabase& database, const fs::path& file, const std::string& title)
{
    const std::string stem = NameStem(title.empty() ? file.filename().string() : title);
    Bytes name = database.uniqueRingToneName(utf8ToWindows1252(stem));
    return addMidiFileNamed(database, file, name);
}

Result<UpdateOutcome> updateRingTones(RingToneDatabase& database, const fs::path& databasePath,
                                      const fs::path& backupPath, InstallHandoff* handoff, UpdateGuard guard)
{
    if (!database.isLoaded())
        return Error{kNoRingTonesLoadedMessage};
    const std::string notWritten = "The ring tone database was not written: ";
    // A database given through a link is written where the link points, its backup too.
    Result<fs::path> target = resolveWriteTarget(databasePath);
    if (!target)
        return Error{notWritten + target.error()};
    Result<fs::path> backup = resolveWriteTarget(backupPath);
    if (!backup)
        return Error{notWritten + backup.error()};
    if (*target == *backup)
        return Error{"The backup \"" + backupPath.string() + "\" would be the ring tone database itself."};
    Result<Bytes> bytes = database.encode();
    if (!bytes)
        return Error{bytes.error()};

    if (!guard.heldLock) {
        Result<FolderLock> lock =
            FolderLock::acquire(target->parent_path(), kDatabaseBusyMessage, guard.lockWait);
        if (!lock)
            return Error{lock.error() == kDatabaseBusyMessage ? lock.error() : notWritten + lock.error()};
        guard.heldLock.emplace(std::move(lock).value());
    } else if (guard.heldLock->folder() != target->parent_path()) {
        return Error{notWritten + "the lock held is on \"" + guard.heldLock->folder().string() +
                     "\", not on the database's folder \"" + target->parent_path().string() + "\"."};
    }
    Result<LoadedFileIdentity> written =
        replaceDatabase(database, *target, *backup, databasePath, guard, *bytes);
    guard.heldLock.reset();
    if (!written)
        return Error{written.error()};

    UpdateOutcome outcome;
    outcome.written = std::move(written).value();
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

Result<void> checkExportTarget(const fs::path& file, const fs::path& databasePath)
{
    return checkNotWritingOver(file, databasePath, "the ring tone database");
}

Result<void> exportRingTone(const RingToneDatabase& database, std::size_t index, const fs::path& file,
                            const fs::path& databasePath)
{
    if (auto checked = checkExportTarget(file, databasePath); !checked)
        return checked;
    return exportRingTone(database, index, file);
}

std::string exportFileName(const RingToneRecord& ringTone, const fs::path& folder)
{
    return UniqueFileName(folder,
                          FitFileName(SafeFileName(windows1252ToUtf8(ringTone.name)), kMidiExtension));
}

} // namespace chwr
