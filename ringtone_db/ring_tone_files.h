#pragma once

#include "ringtone_db/ring_tone_database.h"
#include "shell/file_io.h"
#include "shell/install_handoff.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace chwr {

// The file name of the handheld's ring tone database in a HotSync backup folder.
inline constexpr const char* kRingToneDatabaseFileName = "MIDI_Ring_Tones.PDB";
// The header, record list and one 0x00 of the last load, kept in the program's folder.
inline constexpr const char* kHeaderSnapshotFileName = "MIDI_Ring_Tones2.PDB";
// Shown once the written database has been handed to the install tool.
inline constexpr const char* kHotSyncNotice = "HotSync your device to update your Ring Tones.";
// Starts the message for a database path where no file is.
inline constexpr const char* kDatabaseMissingMessage =
    "The MIDI Ring Tone database does not exist for this user: ";

// Refusals of a write that another writer would otherwise undo or lose.
inline constexpr const char* kDatabaseBusyMessage =
    "The ring tone database is being written by another program; try again.";
inline constexpr const char* kDatabaseChangedMessage =
    "The ring tone database changed on disk since it was loaded, so nothing was written; load it again "
    "and repeat the changes.";

// The database file as it was read: where it is (links followed) and its identity then.
// An update given it writes only over that same file, unchanged.
struct LoadedFileIdentity {
    std::filesystem::path path;
    FileIdentity file;
};

// Reads and decodes the database. A missing file gives the "does not exist" message
// followed by the path; a damaged one a message that says what is wrong; something other
// than a file (a folder, named pipe, device) is refused at once. `loaded`, when given,
// receives the identity of the file read.
Result<RingToneDatabase> readRingToneDatabase(const std::filesystem::path& database,
                                              LoadedFileIdentity* loaded = nullptr);

// What "Load Current Ring Tones" does: readRingToneDatabase, then the header snapshot
// (the header, the record list as read and one 0x00) is written whole to the program's
// folder. Nothing is written when the database cannot be read. The window keeps
// `loaded` and gives it to updateRingTones, which then refuses to write over a database
// that another program changed in between.
Result<RingToneDatabase> loadRingTones(const std::filesystem::path& database,
                                       LoadedFileIdentity* loaded = nullptr);

// The write lock of a database: a lock on the folder that holds it (links followed),
// held from the read to the rename, so that no two writers start from the same database
// and the changes of one are lost. A writer that finds it held waits up to `wait`, then
// is refused with kDatabaseBusyMessage. A database whose folder is missing gives the
// "does not exist" message.
Result<FolderLock> lockRingToneDatabase(const std::filesystem::path& database,
                                        std::chrono::milliseconds wait = kWriteLockWait);

// The header snapshot of a database file whose header and record list are intact.
Bytes headerSnapshot(ByteView file, const PdbHeader& header);

// Adds a Standard MIDI File of at most 64000 bytes as a ring tone named `name` as it
// stands; a RIFF MIDI file adds the Standard MIDI File inside it, to which the limit then
// applies. A larger file is refused with kMidiFileTooLargeMessage, any other file with
// kNotStandardMidiFileMessage. Returns the new ring tone's index (from 0). Refused while
// nothing is loaded.
Result<std::size_t> addMidiFileNamed(RingToneDatabase& database, const std::filesystem::path& file,
                                     ByteView name);
// The same, with the name made from the stem of the file's title (or of `title` when
// given), unique among the ring tones: "Song", then "Song (1)", "Song (2)", ...
Result<std::size_t> addMidiFile(RingToneDatabase& database, const std::filesystem::path& file,
                                const std::string& title = {});

struct UpdateOutcome {
    // True when the hand-off took the file; installMessage is then its sentence for the
    // user, else why it did not (the database is written all the same).
    bool handedOff = false;
    std::string installMessage;
    // The database as written: what the next update of the same ring tones expects.
    LoadedFileIdentity written;
};

// What an update checks before it writes.
struct UpdateGuard {
    UpdateGuard() = default;
    UpdateGuard(LoadedFileIdentity loaded, std::optional<FolderLock> lock = std::nullopt)
        : expected(std::move(loaded)), heldLock(std::move(lock))
    {
    }

    // The database as loaded; a file that is another one now, or changed, is not written
    // over (kDatabaseChangedMessage). None: whatever is there is replaced.
    std::optional<LoadedFileIdentity> expected;
    // The database's write lock when the caller took it for its read; the update lets it
    // go before the hand-off. Otherwise the update takes it, waiting up to lockWait.
    std::optional<FolderLock> heldLock;
    std::chrono::milliseconds lockWait = kWriteLockWait;
};

// What "Update Ring Tones" does. Under the database's write lock, the whole new file is
// written to a temporary file beside the database (the file a link points to) and
// flushed; then the backup is made a second name of the current database (or removed
// when there is none), and the temporary file is renamed into place and the folder
// flushed. The new file keeps the mode of the one it replaces. At no moment is the
// current database missing from its path, and on failure it is unchanged. A database
// with another name on the disk (a hard link that is not its backup) is not written.
// Then the file goes to the hand-off (none when `handoff` is null), after the lock is
// let go.
Result<UpdateOutcome> updateRingTones(RingToneDatabase& database, const std::filesystem::path& databasePath,
                                      const std::filesystem::path& backupPath, InstallHandoff* handoff,
                                      UpdateGuard guard = {});

// The backup beside a database: its file name without the last extension, plus ".bak".
std::filesystem::path backupBeside(const std::filesystem::path& databasePath);

// Writes a ring tone's MIDI data (its first `size` bytes) to a file, replacing it.
Result<void> exportRingTone(const RingToneDatabase& database, std::size_t index,
                            const std::filesystem::path& file);
// Refuses an export over the database it comes from (the same file on disk, links
// followed); the window checks the chosen file with it before exporting.
Result<void> checkExportTarget(const std::filesystem::path& file, const std::filesystem::path& databasePath);
// The export with that check first: nothing is written over the database.
Result<void> exportRingTone(const RingToneDatabase& database, std::size_t index,
                            const std::filesystem::path& file, const std::filesystem::path& databasePath);
// The file name that export offers for a ring tone in a folder: its name made safe as a
// file name, plus ".mid", cut to 255 bytes on a UTF-8 character boundary and made
// unique in the folder.
std::string exportFileName(const RingToneRecord& ringTone, const std::filesystem::path& folder);

} // namespace chwr
