// Every write that replaces a user's file, with each of its file operations made to
// fail in turn, with a read-only folder and with a full disk. After a failure the file
// that was there is unchanged (or, for the database, its backup holds it), the message
// names the file and the system's reason, and no temporary file is left beside it.

#include "midi_edit/channel_table.h"
#include "midi_edit/midi_open.h"
#include "midi_edit/midi_rewriter.h"
#include "ringtone_db/ring_tone_files.h"
#include "shell/file_io.h"
#include "shell/registry.h"
#include "shell/settings_store.h"
#include "tests/reliability/fault_steps.h"
#include "tests/support/pdb_builder.h"
#include "tests/support/smf_builder.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <set>
#include <unistd.h>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using test::bytesOf;
using test::InjectedFault;
using test::KindFault;
using test::PdbBuilder;
using test::ProcessResult;
using test::SmfBuilder;
using test::StepFault;
using test::temporaryFilesIn;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::IsSupersetOf;
using ::testing::Not;

// One write of the program, in the test's own process.
struct Writer {
    // Puts the files as they are before the write.
    std::function<void()> prepare;
    // The write under test.
    std::function<Result<void>()> write;
    // After a failed write: what was there is still there.
    std::function<void()> expectKept;
    // After the write went through.
    std::function<void()> expectWritten;
    // Where the written file lives: no temporary file may stay there.
    fs::path folder;
};

// The same write made by running the copy of chwr that injects faults.
struct ChwrWrite {
    std::function<void()> prepare;
    std::vector<std::string> args;
    std::function<void()> expectKept;
    std::function<void()> expectWritten;
    fs::path folder;
};

// Removes what a folder holds, keeping the folder (it may be a mount point).
void emptyFolder(const fs::path& folder)
{
    fs::create_directories(folder);
    for (const auto& entry : fs::directory_iterator(folder))
        fs::remove_all(entry.path());
}

std::string traceOf(int step, const std::optional<InjectedFault>& fault)
{
    std::string trace = "failing step " + std::to_string(step);
    if (fault)
        trace += std::string(": ") + fileOpName(fault->op) + " " + fault->path.string();
    return trace;
}

class FaultInjectionTest : public test::TempFolderTest {
protected:
    // Runs the write with its first, second, ... file operation failing, until one run
    // gets through. Returns the kinds of operation that were made to fail.
    std::set<FileOp> failEachStepInTurn(const Writer& writer, int error = EIO)
    {
        std::set<FileOp> failed;
        for (int step = 1; step < test::kMaxFailingSteps; ++step) {
            writer.prepare();
            StepFault fault(step, error);
            Result<void> written = writer.write();
            fault.release();
            SCOPED_TRACE(traceOf(step, fault.injected()));
            if (written) {
                EXPECT_FALSE(fault.injected()) << "the failure was not reported";
                writer.expectWritten();
                EXPECT_THAT(temporaryFilesIn(writer.folder), IsEmpty());
                return failed;
            }
            if (!fault.injected()) {
                ADD_FAILURE() << "failed with nothing injected: " << written.error();
                return failed;
            }
            failed.insert(fault.injected()->op);
            EXPECT_THAT(written.error(), HasSubstr(systemMessage(error)));
            EXPECT_THAT(written.error(), HasSubstr(fault.injected()->path.string()));
            writer.expectKept();
            EXPECT_THAT(temporaryFilesIn(writer.folder), IsEmpty());
        }
        ADD_FAILURE() << "the write never got through";
        return failed;
    }

    // Every operation of the given kinds fails: the write is refused with the reason.
    void failEvery(const Writer& writer, const std::set<FileOp>& ops, int error)
    {
        SCOPED_TRACE("every operation failing with " + test::errorName(error));
        writer.prepare();
        Result<void> written = [&] {
            KindFault fault(ops, error);
            return writer.write();
        }();
        ASSERT_FALSE(written);
        EXPECT_THAT(written.error(), HasSubstr(systemMessage(error)));
        writer.expectKept();
        EXPECT_THAT(temporaryFilesIn(writer.folder), IsEmpty());
    }

    ProcessResult runChwr(const std::vector<std::string>& args,
                          const std::vector<std::string>& environment = {})
    {
        std::vector<std::string> argv = {"env"};
        argv.insert(argv.end(), environment.begin(), environment.end());
        argv.push_back(CHWR_FAULTY);
        argv.insert(argv.end(), args.begin(), args.end());
        return test::runProcess(argv);
    }

    // The same sweep through the command-line tool: exit status 1 and a message on
    // standard error for each failing step, 0 once the run gets through.
    int failEachStepOfChwr(const ChwrWrite& write, int error = EIO)
    {
        for (int step = 1; step < test::kMaxFailingSteps; ++step) {
            write.prepare();
            ProcessResult run = runChwr(write.args, {"CHWR_FAIL_STEP=" + std::to_string(step),
                                                     "CHWR_FAIL_ERRNO=" + std::to_string(error)});
            SCOPED_TRACE("failing step " + std::to_string(step) + "; stderr: " + run.err);
            if (run.exitCode == 0) {
                EXPECT_THAT(run.err, Not(HasSubstr("injected:")));
                write.expectWritten();
                EXPECT_THAT(temporaryFilesIn(write.folder), IsEmpty());
                return step - 1;
            }
            EXPECT_EQ(run.exitCode, 1);
            EXPECT_THAT(run.err, HasSubstr("injected: "));
            EXPECT_THAT(run.err, HasSubstr(systemMessage(error)));
            write.expectKept();
            EXPECT_THAT(temporaryFilesIn(write.folder), IsEmpty());
        }
        ADD_FAILURE() << "chwr never got through";
        return 0;
    }

    void failEveryChangeInChwr(const ChwrWrite& write, int error)
    {
        SCOPED_TRACE("every change failing with " + test::errorName(error));
        write.prepare();
        ProcessResult run =
            runChwr(write.args, {"CHWR_FAIL_CHANGES=1", "CHWR_FAIL_ERRNO=" + std::to_string(error)});
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_THAT(run.err, HasSubstr(systemMessage(error)));
        write.expectKept();
        EXPECT_THAT(temporaryFilesIn(write.folder), IsEmpty());
    }
};

// --- The ring tone database and its backup -------------------------------------------

class DatabaseWriteFaults : public FaultInjectionTest {
protected:
    void SetUp() override
    {
        FaultInjectionTest::SetUp();
        m_song = writeFile("Song.mid", test::midiFileOfSize(120));
    }

    fs::path database() const { return path("Backup/MIDI_Ring_Tones.PDB"); }
    fs::path backup() const { return path("Backup/MIDI_Ring_Tones.bak"); }

    void putFiles()
    {
        writeFile("Backup/MIDI_Ring_Tones.PDB", m_original);
        writeFile("Backup/MIDI_Ring_Tones.bak", m_olderBackup);
    }
    void expectKept() const
    {
        EXPECT_EQ(readFile(database()), m_original);
        const Bytes backupNow = readFile(backup());
        EXPECT_TRUE(backupNow == m_olderBackup || backupNow == m_original)
            << "the backup holds neither generation";
    }
    void expectWrittenWith(std::size_t ringTones) const
    {
        Result<RingToneDatabase> written = readRingToneDatabase(database());
        ASSERT_TRUE(written) << written.error();
        EXPECT_EQ(written->ringTones().size(), ringTones);
        EXPECT_EQ(written->header().modificationNumber(), 6u);
        EXPECT_EQ(readFile(backup()), m_original);
    }

    // The core write of "Update Ring Tones", with one ring tone added since the load.
    Writer updateWriter()
    {
        return Writer{[this] {
                          putFiles();
                          Result<RingToneDatabase> loaded = readRingToneDatabase(database());
                          ASSERT_TRUE(loaded) << loaded.error();
                          m_database = std::move(loaded).value();
                          ASSERT_TRUE(addMidiFile(*m_database, m_song));
                      },
                      [this]() -> Result<void> {
                          Result<UpdateOutcome> outcome =
                              updateRingTones(*m_database, database(), backup(), nullptr);
                          if (!outcome)
                              return Error{outcome.error()};
                          return {};
                      },
                      [this] { expectKept(); }, [this] { expectWrittenWith(2); }, path("Backup")};
    }

    ChwrWrite chwrAdd()
    {
        return ChwrWrite{[this] { putFiles(); },
                         {"add", database().string(), m_song.string(), "--no-install"},
                         [this] { expectKept(); },
                         [this] { expectWrittenWith(2); },
                         path("Backup")};
    }

    const Bytes m_original = PdbBuilder().modnumber(5).ringTone("One", test::midiFileOfSize(60)).build();
    const Bytes m_olderBackup = PdbBuilder().modnumber(4).build();
    fs::path m_song;
    std::optional<RingToneDatabase> m_database;
};

TEST_F(DatabaseWriteFaults, EachStepOfUpdateRingTonesFailingKeepsTheDatabaseAndABackup)
{
    std::set<FileOp> failed = failEachStepInTurn(updateWriter());
    // The new file, the backup copy (read of the database, write of the copy) and both
    // moves into place were each made to fail.
    EXPECT_THAT(failed, IsSupersetOf({FileOp::OpenWrite, FileOp::Write, FileOp::Sync, FileOp::Close,
                                      FileOp::Copy, FileOp::OpenRead, FileOp::Read, FileOp::Rename}));
}

TEST_F(DatabaseWriteFaults, RemovingTheOldBackupFailingKeepsIt)
{
    // Without a database to copy, the write drops the old backup instead.
    Writer writer = updateWriter();
    writer.prepare = [this, prepare = writer.prepare] {
        prepare();
        fs::remove(database());
    };
    writer.expectKept = [this] {
        EXPECT_FALSE(fs::exists(database()));
        EXPECT_EQ(readFile(backup()), m_olderBackup);
    };
    writer.expectWritten = [this] {
        EXPECT_TRUE(readRingToneDatabase(database()));
        EXPECT_FALSE(fs::exists(backup()));
    };
    EXPECT_THAT(failEachStepInTurn(writer), IsSupersetOf({FileOp::Remove, FileOp::Rename}));
}

TEST_F(DatabaseWriteFaults, EachStepOfChwrAddFailingKeepsTheDatabase)
{
    EXPECT_GT(failEachStepOfChwr(chwrAdd()), 10);
}

TEST_F(DatabaseWriteFaults, AReadOnlyFolderRefusesTheWriteWithTheReason)
{
    failEvery(updateWriter(), test::changingOperations(), EROFS);
    failEvery(updateWriter(), test::changingOperations(), EACCES);
    failEveryChangeInChwr(chwrAdd(), EROFS);
}

TEST_F(DatabaseWriteFaults, AFullDiskRefusesTheWriteWithTheReason)
{
    // A full disk shows at the write, or only when the data is flushed or closed.
    for (FileOp op : {FileOp::Write, FileOp::Sync, FileOp::Close})
        failEvery(updateWriter(), {op}, ENOSPC);
    failEveryChangeInChwr(chwrAdd(), ENOSPC);
}

TEST_F(DatabaseWriteFaults, ARealReadOnlyFolderRefusesChwrAdd)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into a folder whatever its permissions; the read-only file system case "
                        "covers root";
    putFiles();
    fs::permissions(path("Backup"), fs::perms::owner_read | fs::perms::owner_exec);
    ProcessResult run = runChwr({"add", database().string(), m_song.string(), "--no-install"});
    fs::permissions(path("Backup"), fs::perms::owner_all);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("Permission denied"));
    expectKept();
    EXPECT_THAT(temporaryFilesIn(path("Backup")), IsEmpty());
}

TEST_F(DatabaseWriteFaults, AReadOnlyFileSystemRefusesChwrAdd)
{
    test::SmallFileSystem disk(path("Backup"), 256);
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    putFiles();
    if (!disk.makeReadOnly())
        GTEST_SKIP() << disk.reason();
    ProcessResult run = runChwr({"add", database().string(), m_song.string(), "--no-install"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("Read-only file system"));
    expectKept();
}

TEST_F(DatabaseWriteFaults, AFullDiskRefusesChwrAddAtTheNewFileOrAtTheBackup)
{
    // 64 KB: a 20 KB database with its new 60 KB version does not fit; with a 25 KB new
    // version it does, but then the backup copy does not.
    test::SmallFileSystem disk(path("Backup"), 64);
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    const Bytes original = PdbBuilder().modnumber(5).ringTone("One", test::midiFileOfSize(20000)).build();
    for (std::size_t added : {40000u, 5000u}) {
        SCOPED_TRACE("adding " + std::to_string(added) + " bytes");
        writeFile("Backup/MIDI_Ring_Tones.PDB", original);
        fs::remove(backup());
        const fs::path song = writeFile("Big.mid", test::midiFileOfSize(added));
        ProcessResult run = runChwr({"add", database().string(), song.string(), "--no-install"});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_THAT(run.err, HasSubstr("No space left on device"));
        EXPECT_EQ(readFile(database()), original);
        EXPECT_THAT(temporaryFilesIn(path("Backup")), IsEmpty());
    }
}

// --- head, the result of "Apply", and what is made of it ------------------------------

class MidiWriteFaults : public FaultInjectionTest {
protected:
    void SetUp() override
    {
        FaultInjectionTest::SetUp();
        SmfBuilder smf(1, 480);
        smf.track().tempo(0, 500000).endOfTrack(1920);
        smf.track().programChange(0, 0, 10).noteOn(0, 0, 60, 100).noteOff(960, 0, 60).endOfTrack(960);
        smf.track().programChange(0, 9, 0).noteOn(480, 9, 36, 90).noteOff(480, 9, 36).endOfTrack(0);
        m_song = smf.build();
        m_source = writeFile("song.mid", m_song);
        Result<ChannelTable> table = ChannelTable::open();
        ASSERT_TRUE(table) << table.error();
        m_table.emplace(std::move(table).value());
        Result<MidiFileSummary> opened = openMidiForEditing(m_source, *m_table, m_state);
        ASSERT_TRUE(opened) << opened.error();
        std::vector<ChannelAdjustment> rows = *m_table->rows();
        ASSERT_TRUE(writeField(rows[0], "Octave", 1));
        ASSERT_TRUE(m_table->save(rows[0]));
        m_marks = Marks{0, static_cast<double>(opened->lengthMilliseconds)};
        // The result of a run without faults, which every later run must reproduce.
        Result<RewriteResult> first = m_rewriter.apply(m_state, *m_table, m_marks);
        ASSERT_TRUE(first) << first.error();
        m_head = readFile(head());
        ASSERT_GT(m_head.size(), m_song.size() / 2);
    }

    fs::path head() const { return home() / MidiRewriter::kResultFileName; }

    Writer applyWriter()
    {
        return Writer{[] {},
                      [this]() -> Result<void> {
                          Result<RewriteResult> result = m_rewriter.apply(m_state, *m_table, m_marks);
                          if (!result)
                              return Error{result.error()};
                          return {};
                      },
                      [this] {
                          // Each run starts by dropping the last result; a failed run leaves
                          // at most the header and the tracks finished before it stopped.
                          EXPECT_EQ(readFile(m_source), m_song);
                          EXPECT_TRUE(m_state.RowCommitFlag);
                          EXPECT_FALSE(m_rewriter.isRunning());
                          if (fs::exists(head())) {
                              const Bytes partial = readFile(head());
                              ASSERT_LE(partial.size(), m_head.size());
                              EXPECT_TRUE(std::equal(partial.begin(), partial.end(), m_head.begin()));
                          }
                      },
                      [this] { EXPECT_EQ(readFile(head()), m_head); }, home()};
    }

    Bytes m_song;
    fs::path m_source;
    std::optional<ChannelTable> m_table;
    MidiEditState m_state;
    MidiRewriter m_rewriter;
    Marks m_marks;
    Bytes m_head;
    // What a file at an output path held before the write.
    const Bytes m_previous = test::midiFileOfSize(64);
};

TEST_F(MidiWriteFaults, EachStepOfApplyFailingReportsItAndLeavesNoRunGoing)
{
    EXPECT_THAT(failEachStepInTurn(applyWriter()),
                IsSupersetOf({FileOp::OpenRead, FileOp::Read, FileOp::Remove, FileOp::OpenWrite,
                              FileOp::Write, FileOp::Close}));
}

TEST_F(MidiWriteFaults, ApplyOnAReadOnlyOrFullDiskReportsIt)
{
    failEvery(applyWriter(), test::changingOperations(), EROFS);
    failEvery(applyWriter(), {FileOp::Write}, ENOSPC);
}

TEST_F(MidiWriteFaults, EachStepOfSavingTheResultFailingKeepsTheChosenFile)
{
    // "Save MIDI File" copies head over the file the user chose.
    const fs::path chosen = path("saved/tone.mid");
    const Writer writer{[&] { writeFile("saved/tone.mid", m_previous); },
                        [&] { return copyFileAtomic(head(), chosen); },
                        [&] {
                            EXPECT_EQ(readFile(chosen), m_previous);
                            EXPECT_EQ(readFile(head()), m_head);
                        },
                        [&] { EXPECT_EQ(readFile(chosen), m_head); }, path("saved")};
    EXPECT_THAT(failEachStepInTurn(writer),
                IsSupersetOf({FileOp::Copy, FileOp::OpenRead, FileOp::Read, FileOp::OpenWrite, FileOp::Write,
                              FileOp::Sync, FileOp::Close, FileOp::Rename}));
    failEvery(writer, test::changingOperations(), EROFS);
    failEvery(writer, {FileOp::Write}, ENOSPC);
}

TEST_F(MidiWriteFaults, EachStepOfChwrModifyFailingKeepsTheOutputFile)
{
    const fs::path out = path("out/modified.mid");
    ASSERT_EQ(runChwr({"modify", m_source.string(), path("expected.mid").string(), "--adjust", "1:octave=1"})
                  .exitCode,
              0);
    const Bytes expected = readFile(path("expected.mid"));
    const ChwrWrite write{[&] { writeFile("out/modified.mid", m_previous); },
                          {"modify", m_source.string(), out.string(), "--adjust", "1:octave=1"},
                          [&] {
                              EXPECT_EQ(readFile(out), m_previous);
                              EXPECT_EQ(readFile(m_source), m_song);
                          },
                          [&] { EXPECT_EQ(readFile(out), expected); },
                          path("out")};
    EXPECT_GT(failEachStepOfChwr(write), 5);
    failEveryChangeInChwr(write, EROFS);
    failEveryChangeInChwr(write, ENOSPC);
}

TEST_F(MidiWriteFaults, AFailedChwrModifyLeavesNoOutputWhereThereWasNone)
{
    const fs::path out = path("out/new.mid");
    const ChwrWrite write{[&] {
                              fs::create_directories(path("out"));
                              fs::remove(out);
                          },
                          {"modify", m_source.string(), out.string()},
                          [&] { EXPECT_FALSE(fs::exists(out)); },
                          [&] { EXPECT_TRUE(readMidiFile(out)); },
                          path("out")};
    EXPECT_GT(failEachStepOfChwr(write), 5);
}

TEST_F(MidiWriteFaults, AFullOrReadOnlyDiskRefusesChwrModifyAndKeepsTheOutput)
{
    test::SmallFileSystem disk(path("out"), 8);
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    // A 6 KB output in place and a 7 KB new one: the two do not fit in 8 KB.
    SmfBuilder big(0, 480);
    test::TrackBuilder& track = big.track();
    for (int i = 0; i < 1700; ++i)
        track.noteOn(1, 0, 60, 100);
    const fs::path source = writeFile("big.mid", big.build());
    const Bytes previous = test::midiFileOfSize(6000);
    writeFile("out/kept.mid", previous);
    ProcessResult full = runChwr({"modify", source.string(), path("out/kept.mid").string()});
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_THAT(full.err, HasSubstr("No space left on device"));
    EXPECT_EQ(readFile(path("out/kept.mid")), previous);
    EXPECT_THAT(temporaryFilesIn(path("out")), IsEmpty());

    if (!disk.makeReadOnly())
        GTEST_SKIP() << disk.reason();
    ProcessResult readOnly = runChwr({"modify", m_source.string(), path("out/kept.mid").string()});
    EXPECT_EQ(readOnly.exitCode, 1);
    EXPECT_THAT(readOnly.err, HasSubstr("Read-only file system"));
    EXPECT_EQ(readFile(path("out/kept.mid")), previous);
}

// --- Exported ring tones ---------------------------------------------------------------

class ExportFaults : public FaultInjectionTest {
protected:
    void SetUp() override
    {
        FaultInjectionTest::SetUp();
        Bytes data = test::midiFileOfSize(90);
        data.push_back(AddedMark);
        m_data = data;
        m_databasePath = writeFile("MIDI_Ring_Tones.PDB", PdbBuilder().ringTone("Bell", data).build());
        Result<RingToneDatabase> loaded = readRingToneDatabase(m_databasePath);
        ASSERT_TRUE(loaded) << loaded.error();
        m_database.emplace(std::move(loaded).value());
    }

    fs::path out() const { return path("export/Bell.mid"); }
    void expectKept() const { EXPECT_EQ(readFile(out()), m_previous); }

    Bytes m_data;
    fs::path m_databasePath;
    std::optional<RingToneDatabase> m_database;
    const Bytes m_previous = test::midiFileOfSize(50);
};

TEST_F(ExportFaults, EachStepOfTheExportFailingKeepsTheFileThere)
{
    const Writer writer{[&] { writeFile("export/Bell.mid", m_previous); },
                        [&] { return exportRingTone(*m_database, 0, out()); }, [&] { expectKept(); },
                        [&] { EXPECT_EQ(readFile(out()), m_data); }, path("export")};
    EXPECT_THAT(failEachStepInTurn(writer), IsSupersetOf({FileOp::OpenWrite, FileOp::Write, FileOp::Sync,
                                                          FileOp::Close, FileOp::Rename}));
    failEvery(writer, test::changingOperations(), EROFS);
    failEvery(writer, {FileOp::Write}, ENOSPC);
}

TEST_F(ExportFaults, EachStepOfChwrExportFailingKeepsTheFileThere)
{
    const ChwrWrite write{[&] { writeFile("export/Bell.mid", m_previous); },
                          {"export", m_databasePath.string(), "1", out().string()},
                          [&] { expectKept(); },
                          [&] { EXPECT_EQ(readFile(out()), m_data); },
                          path("export")};
    EXPECT_GT(failEachStepOfChwr(write), 5);
    failEveryChangeInChwr(write, EROFS);
    failEveryChangeInChwr(write, ENOSPC);
}

TEST_F(ExportFaults, AFullDiskRefusesChwrExportAndKeepsTheFile)
{
    test::SmallFileSystem disk(path("export"), 8);
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    Bytes big = test::midiFileOfSize(7000);
    const fs::path databasePath = writeFile("big.PDB", PdbBuilder().ringTone("Big", big).build());
    const Bytes previous = test::midiFileOfSize(5000);
    writeFile("export/Bell.mid", previous);
    ProcessResult run = runChwr({"export", databasePath.string(), "1", out().string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("No space left on device"));
    EXPECT_EQ(readFile(out()), previous);
    EXPECT_THAT(temporaryFilesIn(path("export")), IsEmpty());
}

// --- The settings file -------------------------------------------------------------------

class SettingsWriteFaults : public FaultInjectionTest {
protected:
    fs::path settingsFile() const { return path("settings/registry.reg"); }

    // A settings file holding a database path and the path option.
    void putSettings()
    {
        emptyFolder(path("settings"));
        RegistryFile registry(settingsFile());
        SettingsStore store(registry);
        ASSERT_TRUE(store.writeSetting(kDbPathSetting, "/palm/MIDI_Ring_Tones.PDB"));
        ASSERT_TRUE(store.writeSetting(kDbOptionSetting, std::string(kDbOptionPathText)));
        m_original = readFile(settingsFile());
    }
    void expectKept() const
    {
        EXPECT_EQ(readFile(settingsFile()), m_original);
        RegistryFile registry(settingsFile());
        EXPECT_EQ(SettingsStore(registry).readSetting(kDbOptionSetting), kDbOptionPathText);
    }

    // A value set through the registry layer, which says why it failed.
    Writer setValueWriter()
    {
        return Writer{[this] { putSettings(); },
                      [this]() -> Result<void> {
                          RegistryFile registry(settingsFile());
                          Result<std::unique_ptr<RegistryKey>> key =
                              registry.createKey(RegistryRoot::LocalMachine, kProgramKey);
                          if (!key)
                              return Error{key.error()};
                          return (*key)->setValue(kDbOptionSetting,
                                                  RegistryValue{RegistryValueType::String, bytesOf("0")});
                      },
                      [this] { expectKept(); },
                      [this] {
                          RegistryFile registry(settingsFile());
                          SettingsStore store(registry);
                          EXPECT_EQ(store.readSetting(kDbOptionSetting), kDbOptionHotSyncText);
                          EXPECT_EQ(store.readSetting(kDbPathSetting), "/palm/MIDI_Ring_Tones.PDB");
                      },
                      path("settings")};
    }

    Bytes m_original;
};

TEST_F(SettingsWriteFaults, EachStepOfSettingAValueFailingKeepsTheSettingsFile)
{
    EXPECT_THAT(failEachStepInTurn(setValueWriter()),
                IsSupersetOf({FileOp::OpenRead, FileOp::Read, FileOp::OpenWrite, FileOp::Write, FileOp::Sync,
                              FileOp::Close, FileOp::Rename}));
}

TEST_F(SettingsWriteFaults, TheStoreReportsAFailedWriteAndKeepsTheOldValue)
{
    // WriteRegValue has no message: it returns false and empties the caller's text.
    for (int step = 1;; ++step) {
        ASSERT_LT(step, test::kMaxFailingSteps);
        putSettings();
        RegistryFile registry(settingsFile());
        SettingsStore store(registry);
        std::string value(kDbOptionHotSyncText);
        StepFault fault(step, EIO);
        const bool written = store.WriteRegValue(RegistryRoot::LocalMachine, kProgramKey,
                                                 RegistryValueType::String, kDbOptionSetting, value);
        fault.release();
        SCOPED_TRACE(traceOf(step, fault.injected()));
        if (written) {
            EXPECT_EQ(store.readSetting(kDbOptionSetting), kDbOptionHotSyncText);
            break;
        }
        EXPECT_EQ(value, "");
        expectKept();
        EXPECT_THAT(temporaryFilesIn(path("settings")), IsEmpty());
    }
}

TEST_F(SettingsWriteFaults, ADamagedSettingsFileIsKeptWhateverStepFails)
{
    const Bytes damaged =
        bytesOf("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\r\n\"x\"=");
    const fs::path copy = path("settings/registry.reg.damaged");
    const Writer writer{
        [&] {
            emptyFolder(path("settings"));
            writeFile("settings/registry.reg", damaged);
        },
        [&]() -> Result<void> {
            RegistryFile registry(settingsFile());
            Result<std::unique_ptr<RegistryKey>> key =
                registry.createKey(RegistryRoot::LocalMachine, kProgramKey);
            if (!key)
                return Error{key.error()};
            return (*key)->setValue(kDbOptionSetting, RegistryValue{RegistryValueType::String, bytesOf("1")});
        },
        [&] {
            // The damaged bytes stay at their path until a copy of them is kept.
            if (readFile(settingsFile()) != damaged) {
                EXPECT_EQ(readFile(copy), damaged);
                EXPECT_TRUE(RegistryFile(settingsFile()).load());
            }
        },
        [&] {
            EXPECT_EQ(readFile(copy), damaged);
            RegistryFile registry(settingsFile());
            EXPECT_EQ(SettingsStore(registry).readSetting(kDbOptionSetting), kDbOptionPathText);
        },
        path("settings")};
    failEachStepInTurn(writer);
}

TEST_F(SettingsWriteFaults, AReadOnlyOrFullDiskKeepsTheSettingsFile)
{
    failEvery(setValueWriter(), test::changingOperations(), EROFS);
    failEvery(setValueWriter(), {FileOp::Write}, ENOSPC);

    test::SmallFileSystem disk(path("settings"), 16);
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    putSettings();
    if (!disk.makeReadOnly())
        GTEST_SKIP() << disk.reason();
    RegistryFile registry(settingsFile());
    Result<std::unique_ptr<RegistryKey>> key = registry.createKey(RegistryRoot::LocalMachine, kProgramKey);
    ASSERT_TRUE(key) << key.error();
    Result<void> set =
        (*key)->setValue(kDbOptionSetting, RegistryValue{RegistryValueType::String, bytesOf("0")});
    ASSERT_FALSE(set);
    EXPECT_THAT(set.error(), HasSubstr("Read-only file system"));
    expectKept();
}

} // namespace
} // namespace chwr
