#pragma once

#include "ringtone_db/ring_tone_database.h"
#include "shell/install_handoff.h"

#include <cstddef>
#include <filesystem>
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

// Reads and decodes the database. A missing file gives the "does not exist" message
// followed by the path; a damaged one a message that says what is wrong.
Result<RingToneDatabase> readRingToneDatabase(const std::filesystem::path& database);

// What "Load Current Ring Tones" does: readRingToneDatabase, then the header snapshot
// (the header, the record list as read and one 0x00) is written whole to the program's
// folder. Nothing is written when the database cannot be read.
Result<RingToneDatabase> loadRingTones(const std::filesystem::path& database);

// The header snapshot of a database file whose header and record list are intact.
Bytes headerSnapshot(ByteView file, const PdbHeader& header);

// Adds a Standard MIDI File of at most 64000 bytes as a ring tone named `name` as it
// stands. Returns the new ring tone's index (from 0). Refused while nothing is loaded.
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
};

// What "Update Ring Tones" does. The whole new file is written to a temporary file
// beside the database and flushed; then the backup is replaced by a copy of the current
// database (or removed when there is none), and the temporary file is renamed into
// place. At no moment is the current database missing from its path, and on failure it
// is unchanged. Then the file goes to the hand-off (none when `handoff` is null).
Result<UpdateOutcome> updateRingTones(RingToneDatabase& database, const std::filesystem::path& databasePath,
                                      const std::filesystem::path& backupPath, InstallHandoff* handoff);

// The backup beside a database: its file name without the last extension, plus ".bak".
std::filesystem::path backupBeside(const std::filesystem::path& databasePath);

// Writes a ring tone's MIDI data (its first `size` bytes) to a file, replacing it.
Result<void> exportRingTone(const RingToneDatabase& database, std::size_t index,
                            const std::filesystem::path& file);
// The file name that export offers for a ring tone in a folder: its name made safe as a
// file name, plus ".mid", made unique in the folder.
std::string exportFileName(const RingToneRecord& ringTone, const std::filesystem::path& folder);

} // namespace chwr
