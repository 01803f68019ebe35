// Every write that replaces a user's file, each of its file operations made to fail in
// turn, then in a read-only folder and on a full disk, in this process or by running
// chwr_faulty. After a failure the file that was there is unchanged (the database's
// backup holds the database or the older backup), the message names the file and the
// system's reason, and no temporary file is left beside it.

#include "midi_edit/midi_open.h"
#include "midi_edit/midi_rewriter.h"
#include "ringtone_db/ring_tone_files.h"
#include "shell/registry.h"
#include "shell/settings_store.h"
#include "tests/support/pdb_builder.h"
#include "tests/support/smf_builder.h"
#include "tests/support/temp_folder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <gmock/gmock.h>
#include <sstream>
#include <sys/mount.h>
#include <unistd.h>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using namespace test;
using namespace ::testing;
using Check = std::function<void()>;

// One write: a call in this process, or chwr_faulty run with `args`.
struct Write {
    Check prepare;
    std::function<Result<void>()> call;
    std::vector<std::string> args;
    Check expectKept, expectWritten;
    fs::path folder; // where the written file lives
};

// What a run did, and the first operation made to fail (`faults` counts them).
struct Outcome {
    bool ok = false;
    std::string message, op;
    fs::path path;
    int faults = 0;
};

template <typename T> Result<void> reported(const Result<T>& result)
{
    return result ? Result<void>() : Error{result.error()};
}

class DatabaseWriteFaults : public TempFolderTest {
protected:
    // A run with the step-th file operation (from 1) failing, or with every `op`, or (no
    // op) every operation but reading, as in a read-only folder.
    static Outcome attempt(const Write& write, int step, std::optional<FileOp> op, int error = EIO)
    {
        write.prepare();
        Outcome run;
        if (write.call) {
            setFileFaultHook([&, seen = 0](FileOp kind, const fs::path& path) mutable {
                const bool reading = kind == FileOp::OpenRead || kind == FileOp::Read;
                if (++seen != step && !(step == 0 && (op ? kind == *op : !reading)))
                    return 0;
                if (run.faults++ == 0) {
                    run.op = fileOpName(kind);
                    run.path = path;
                }
                return error;
            });
            Result<void> written = write.call();
            setFileFaultHook({});
            run.ok = written.ok();
            run.message = written ? "" : written.error();
            return run;
        }
        std::vector<std::string> argv = {
            "env", "CHWR_FAIL_ERRNO=" + std::to_string(error),
            step ? "CHWR_FAIL_STEP=" + std::to_string(step) : "CHWR_FAIL_CHANGES=1", CHWR_FAULTY};
        argv.insert(argv.end(), write.args.begin(), write.args.end());
        const ProcessResult process = runProcess(argv);
        run.ok = process.exitCode == 0;
        EXPECT_EQ(process.exitCode, run.ok ? 0 : 1) << process.err;
        std::istringstream lines(process.err);
        for (std::string line; std::getline(lines, line);) {
            const std::size_t colon = line.find(": ", 10);
            if (!line.starts_with("injected: ")) {
                run.message += line + "\n";
            } else if (run.faults++ == 0) {
                run.op = line.substr(10, colon - 10);
                run.path = line.substr(colon + 2);
            }
        }
        EXPECT_EQ(run.message.starts_with("chwr"), !run.ok) << run.message;
        return run;
    }

    // A failed write leaves what was there, or, when it says so, the whole new file.
    static void expectFailedAndKept(const Write& write, const Outcome& run, int error)
    {
        EXPECT_FALSE(run.ok) << "the failure was not reported";
        EXPECT_THAT(run.message, HasSubstr(systemMessage(error)));
        (run.message.find("was written") == std::string::npos ? write.expectKept : write.expectWritten)();
        EXPECT_EQ(temporaryFiles(write.folder), 0);
    }

    // Fails the first file operation, then the second, and so on until a run has nothing to
    // fail; then EROFS and EACCES (read-only folder), ENOSPC at the write, flush or close (full disk).
    static void failEachStepInTurn(const Write& write, int atLeast = 5)
    {
        Outcome run;
        int step = 1;
        for (; (run = attempt(write, step, {})).faults > 0 && step < 400; ++step) {
            SCOPED_TRACE("failing step " + std::to_string(step) + ": " + run.op + " " + run.path.string());
            expectFailedAndKept(write, run, EIO);
            // The message names the file, or the folder of a temporary file.
            const bool temporary = run.path.filename().string().starts_with(".");
            EXPECT_THAT(run.message, HasSubstr((temporary ? run.path.parent_path() : run.path).string()));
        }
        EXPECT_TRUE(run.ok) << run.message;
        EXPECT_GE(step - 1, atLeast) << "file operations that were made to fail";
        write.expectWritten();
        EXPECT_EQ(temporaryFiles(write.folder), 0);
        const std::pair<std::optional<FileOp>, int> faults[] = {{{}, EROFS},
                                                                {{}, EACCES},
                                                                {FileOp::Write, ENOSPC},
                                                                {FileOp::Sync, ENOSPC},
                                                                {FileOp::Close, ENOSPC}};
        for (const auto& [op, error] : faults) {
            SCOPED_TRACE(systemMessage(error));
            if (!write.call && op && op != FileOp::Write)
                continue; // chwr_faulty fails every change
            if (const Outcome run = attempt(write, 0, write.call ? op : std::nullopt, error); run.faults > 0)
                expectFailedAndKept(write, run, error); // else the write has no such step
        }
    }

    // Temporary files of a write start with a dot; the tests' own files never do.
    static long temporaryFiles(const fs::path& folder)
    {
        return std::ranges::count_if(listFolder(folder),
                                     [](const std::string& name) { return name[0] == '.'; });
    }

    fs::path database() const { return path("Backup/MIDI_Ring_Tones.PDB"); }
    fs::path backup() const { return path("Backup/MIDI_Ring_Tones.bak"); }
    // New files each time: a failed write may leave the backup a second name of the database.
    void putFiles() const
    {
        fs::remove_all(path("Backup"));
        writeFile("Backup/MIDI_Ring_Tones.PDB", m_original);
        writeFile("Backup/MIDI_Ring_Tones.bak", m_olderBackup);
        writeFile("Song.mid", midiFileOfSize(120));
    }
    void expectKept() const
    {
        EXPECT_EQ(readFile(database()), m_original);
        const Bytes backupNow = readFile(backup());
        EXPECT_TRUE(backupNow == m_olderBackup || backupNow == m_original) << "the backup holds neither";
    }
    void expectWritten() const
    {
        EXPECT_EQ(readFile(database()), m_written);
        EXPECT_EQ(readFile(backup()), m_original);
    }
    // "Update Ring Tones" with a ring tone added since the load. The same list written
    // again after a failure raises modnumber once: a failed write does not count.
    Write update()
    {
        Check load = [this] {
            putFiles();
            m_database = readRingToneDatabase(database()).value();
            ASSERT_TRUE(addMidiFile(m_database, path("Song.mid")));
        };
        auto call = [this] { return reported(updateRingTones(m_database, database(), backup(), nullptr)); };
        Check keptThenWritten = [this] {
            expectKept();
            ASSERT_TRUE(updateRingTones(m_database, database(), backup(), nullptr));
            expectWritten();
        };
        return {load, call, {}, keptThenWritten, [this] { expectWritten(); }, path("Backup")};
    }
    // A file the user named, which held m_previous before the write (or nothing).
    Write toFile(const fs::path& file, const Bytes& expected, bool existed,
                 std::function<Result<void>()> call, std::vector<std::string> args = {})
    {
        Check prepare = [this, file, existed] {
            fs::remove_all(file.parent_path());
            fs::create_directories(file.parent_path());
            if (existed)
                writeFile(fs::relative(file, folder()), m_previous);
        };
        Check kept = [this, file, existed] {
            EXPECT_EQ(fs::exists(file) ? readFile(file) : Bytes{}, existed ? m_previous : Bytes{});
        };
        return {prepare, call, args, kept, [=] { EXPECT_EQ(readFile(file), expected); }, file.parent_path()};
    }

    // The database holds the ring tone One; the write adds Song.mid, its data carrying the "@" mark.
    const PdbBuilder m_one = PdbBuilder().ringTone("One", midiFileOfSize(60));
    const Bytes m_original = m_one.build();
    const Bytes m_olderBackup = PdbBuilder().modnumber(4).build();
    const Bytes m_written =
        PdbBuilder(m_one).modnumber(6).ringTone("Song", concat({midiFileOfSize(120), bytesOf("@")})).build();
    const Bytes m_previous = midiFileOfSize(64);
    RingToneDatabase m_database;
};

TEST_F(DatabaseWriteFaults, EachStepOfUpdateRingTonesFailingKeepsTheDatabaseAndABackup)
{
    failEachStepInTurn(update());
}

TEST_F(DatabaseWriteFaults, EachStepOfChwrAddFailingKeepsTheDatabase)
{
    failEachStepInTurn(Write([this] { putFiles(); }, {},
                             {"add", database(), path("Song.mid"), "--no-install"}, [this] { expectKept(); },
                             [this] { expectWritten(); }, path("Backup")),
                       10);
}

TEST_F(DatabaseWriteFaults, RemovingTheOldBackupFailingKeepsIt)
{
    // Without a database the write drops the old backup, and puts it back when the new
    // database cannot be moved into place.
    Write write = update();
    write.prepare = [this, load = write.prepare] {
        load();
        fs::remove(database());
    };
    write.expectKept = [this] {
        EXPECT_FALSE(fs::exists(database()));
        EXPECT_EQ(readFile(backup()), m_olderBackup);
    };
    write.expectWritten = [this] {
        EXPECT_EQ(readFile(database()), m_written);
        EXPECT_FALSE(fs::exists(backup()));
    };
    failEachStepInTurn(write);
}

TEST_F(DatabaseWriteFaults, EachStepOfLoadingFailingKeepsTheHeaderSnapshot)
{
    // "Load Current Ring Tones" writes the header, the record list and one 0x00.
    const fs::path snapshot = home() / kHeaderSnapshotFileName;
    const Bytes written = concat({ByteView(m_original).first(86), Bytes{0}});
    failEachStepInTurn(Write(
        [&] {
            putFiles();
            writeFile("home/MIDI_Ring_Tones2.PDB", m_previous);
        },
        [&] { return reported(loadRingTones(database())); }, {},
        [&] { EXPECT_EQ(readFile(snapshot), m_previous); }, [&] { EXPECT_EQ(readFile(snapshot), written); },
        home()));
}

TEST_F(DatabaseWriteFaults, EachStepOfAnExportOrACopyFailingKeepsTheFileThere)
{
    const Bytes data = midiFileOfSize(90);
    const fs::path db = writeFile("MIDI_Ring_Tones.PDB", PdbBuilder().ringTone("Bell", data).build());
    const fs::path out = path("export/Bell.mid");
    failEachStepInTurn(toFile(out, data, true, {}, {"export", db, "1", out}));
    // "Save MIDI File" copies the result of "Apply" over the file the user chose, chwr
    // modify writes its own (a file that was there is the export's walk above).
    const fs::path song = writeFile("Song.mid", data);
    failEachStepInTurn(toFile(out, data, true, [&] { return copyFileAtomic(song, out); }));
    ASSERT_EQ(runProcess({CHWR_FAULTY, "modify", song, path("modified.mid")}).exitCode, 0);
    failEachStepInTurn(toFile(out, readFile(path("modified.mid")), false, {}, {"modify", song, out}));
}

// The same checks for the other writes.
using MidiWriteFaults = DatabaseWriteFaults;

TEST_F(MidiWriteFaults, EachStepOfApplyFailingReportsItAndLeavesNoRunGoing)
{
    // "Apply" rewrites the opened file into head: each run first drops the last result, and a
    // failed one leaves at most the header and the tracks it finished, and no run going.
    SmfBuilder smf(1, 480);
    smf.track().tempo(0, 500000).endOfTrack(1920);
    smf.track().programChange(0, 0, 10).noteOn(0, 0, 60, 100).noteOff(960, 0, 60).endOfTrack(960);
    ChannelTable table = ChannelTable::open().value();
    MidiEditState state;
    const Result<MidiFileSummary> opened =
        openMidiForEditing(writeFile("song.mid", smf.build()), table, state);
    ASSERT_TRUE(opened) << opened.error();
    MidiRewriter rewriter;
    const Marks marks{0, static_cast<double>(opened->lengthMilliseconds)};
    const fs::path head = home() / MidiRewriter::kResultFileName;
    ASSERT_TRUE(rewriter.apply(state, table, marks));
    const Bytes result = readFile(head);
    Check kept = [&] {
        EXPECT_TRUE(state.RowCommitFlag && !rewriter.isRunning());
        const Bytes partial = fs::exists(head) ? readFile(head) : Bytes{};
        EXPECT_TRUE(partial.size() <= result.size() &&
                    std::equal(partial.begin(), partial.end(), result.begin()));
    };
    failEachStepInTurn(Write([] {}, [&] { return reported(rewriter.apply(state, table, marks)); }, {}, kept,
                             [&] { EXPECT_EQ(readFile(head), result); }, home()));
}

using SettingsWriteFaults = DatabaseWriteFaults;

TEST_F(SettingsWriteFaults, EachStepOfSettingAValueFailingKeepsTheSettingsFile)
{
    const fs::path file = path("settings/registry.reg");
    auto set = [&](const char* value) -> Result<void> {
        RegistryFile registry(file);
        Result<std::unique_ptr<RegistryKey>> key =
            registry.createKey(RegistryRoot::LocalMachine, kProgramKey);
        if (!key)
            return Error{key.error()};
        return (*key)->setValue(kDbOptionSetting, RegistryValue{RegistryValueType::String, bytesOf(value)});
    };
    auto option = [&] {
        RegistryFile registry(file);
        return SettingsStore(registry).readSetting(kDbOptionSetting);
    };
    Bytes before;
    Check prepare = [&] {
        fs::remove_all(file.parent_path());
        fs::create_directories(file.parent_path());
        ASSERT_TRUE(set("1"));
        before = readFile(file);
    };
    Check kept = [&] { EXPECT_EQ(std::tuple(readFile(file), option()), std::tuple(before, "1")); };
    failEachStepInTurn(
        {prepare, [&] { return set("0"); }, {}, kept, [&] { EXPECT_EQ(option(), "0"); }, file.parent_path()});
}

TEST_F(DatabaseWriteFaults, ARealReadOnlyFolderOrFullDiskRefusesChwrAdd)
{
    putFiles();
    const std::vector<std::string> add = {CHWR_FAULTY, "add", database(), path("Song.mid")};
    if (::geteuid() != 0) { // root writes into a folder whatever its mode
        fs::permissions(path("Backup"), fs::perms::owner_read | fs::perms::owner_exec);
        const ProcessResult run = runProcess(add);
        fs::permissions(path("Backup"), fs::perms::owner_all);
        EXPECT_THAT(run, FieldsAre(1, _, HasSubstr("Permission denied")));
        expectKept();
    }
    // A 64 KB tmpfs: a 20 KB database and its new 60 KB version do not fit together.
    fs::remove_all(path("Backup"));
    fs::create_directories(path("Backup"));
    if (::mount("tmpfs", path("Backup").c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    const Bytes original = PdbBuilder().ringTone("One", midiFileOfSize(20000)).build();
    writeFile("Backup/MIDI_Ring_Tones.PDB", original);
    writeFile("Song.mid", midiFileOfSize(40000));
    for (const char* reason : {"No space left on device", "Read-only file system"}) {
        EXPECT_THAT(runProcess(add), FieldsAre(1, _, HasSubstr(reason)));
        EXPECT_EQ(readFile(database()), original);
        EXPECT_THAT(listFolder(path("Backup")), ElementsAre("MIDI_Ring_Tones.PDB"));
        EXPECT_EQ(::mount("tmpfs", path("Backup").c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr), 0);
    }
    ::umount2(path("Backup").c_str(), MNT_DETACH);
}

} // namespace
} // namespace chwr
