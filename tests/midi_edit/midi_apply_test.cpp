#include "midi_edit/midi_open.h"
#include "midi_edit/midi_rewriter.h"

#include "shell/file_io.h"
#include "shell/program_folder.h"
#include "tests/support/smf_builder.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace chwr {
namespace {

namespace fs = std::filesystem;
using test::SmfBuilder;

// "Apply" on the tab: a file opened into the state and the channel table, then rewritten
// into head in the program folder.
class MidiApplyTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        Result<ChannelTable> opened = ChannelTable::open();
        ASSERT_TRUE(opened.ok()) << opened.error();
        m_table.emplace(std::move(opened).value());
    }

    ChannelTable& table() { return *m_table; }

    // Three tracks of 2000 events each, so that progress is reported inside tracks.
    static Bytes threeTrackSong()
    {
        SmfBuilder smf(1, 480);
        smf.track().tempo(0, 500000).text(0, "song").endOfTrack(4000);
        for (int channel = 0; channel < 2; ++channel) {
            test::TrackBuilder& track = smf.track().runningStatus(true).programChange(0, channel, 10 + channel);
            for (int i = 0; i < 2000; ++i)
                track.noteOn(1, channel, 60 + channel, i % 2 ? 0 : 100);
            track.endOfTrack();
        }
        return smf.build();
    }

    MidiFileSummary open(const Bytes& file)
    {
        Result<MidiFileSummary> summary = openMidiForEditing(writeFile("song.mid", file), table(), m_state);
        EXPECT_TRUE(summary.ok()) << (summary ? "" : summary.error());
        return summary ? *summary : MidiFileSummary{};
    }

    void setRow(int channel, const char* field, int value)
    {
        std::vector<ChannelAdjustment> rows = *table().rows();
        for (ChannelAdjustment& row : rows) {
            if (row.Channel == channel) {
                ASSERT_TRUE(writeField(row, field, value).ok());
                ASSERT_TRUE(table().save(row).ok());
            }
        }
    }

    // What the engine writes for the same file, rows and marks.
    Bytes engineOutput(const Bytes& file, const Marks& marks)
    {
        Result<MidiFileSummary> summary = readMidiFile(file);
        Result<ChannelAdjustments> adjustments = table().adjustmentsForRewrite(m_state.OpenPrograms);
        EXPECT_TRUE(summary.ok() && adjustments.ok());
        Bytes out;
        Result<RewriteResult> result = rewriteMidi(file, *summary, RewriteSettings{marks, *adjustments},
                                                   [&](ByteView bytes) -> Result<void> {
                                                       out.insert(out.end(), bytes.begin(), bytes.end());
                                                       return {};
                                                   });
        EXPECT_TRUE(result.ok());
        return out;
    }

    fs::path head() const { return programFolder() / "head"; }

    // head reads back with the program's own reader, as far as its tracks go.
    static void expectReadable(const fs::path& file, int tracks)
    {
        Result<MidiFileSummary> back = readMidiFile(file);
        ASSERT_TRUE(back.ok()) << back.error();
        EXPECT_EQ(back->tracksRead, tracks);
    }
    fs::path debugFile() const { return programFolder() / "midi" / "debug.txt"; }

    MidiEditState m_state;
    MidiRewriter m_rewriter;

private:
    std::optional<ChannelTable> m_table;
};

TEST_F(MidiApplyTest, WritesHeadWithTheRowsAndMarksAndEmptiesTheDebugFile)
{
    Bytes file = threeTrackSong();
    MidiFileSummary summary = open(file);
    setRow(1, "octave", 1);
    setRow(2, "patch", 40);
    setRow(2, "volume", -20);
    writeFile("home/midi/debug.txt", asBytes("first start\n"));

    Marks marks{100, static_cast<double>(summary.lengthMilliseconds - 200)};
    Result<RewriteResult> result = m_rewriter.apply(m_state, table(), marks);
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(result->outcome, RewriteOutcome::Finished);
    EXPECT_EQ(result->resultPath, head());
    EXPECT_EQ(m_state.ResultFilePath, head().string());
    EXPECT_TRUE(m_state.RowCommitFlag);
    EXPECT_FALSE(m_rewriter.isRunning());
    EXPECT_EQ(readFile(head()), engineOutput(file, marks));
    EXPECT_TRUE(readFile(debugFile()).empty());

    Result<MidiFileSummary> back = readMidiFile(head());
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->tracksRead, 3);
    EXPECT_EQ(back->programs[1], 40);
}

TEST_F(MidiApplyTest, TheRowsAreReadOnceWhenTheRunStarts)
{
    Bytes file = threeTrackSong();
    MidiFileSummary summary = open(file);
    Marks marks{0, static_cast<double>(summary.lengthMilliseconds)};
    Bytes unchanged = engineOutput(file, marks);
    // An edit committed while the run goes on does not reach it.
    m_rewriter.setProgressHandler([&](const RewriteProgress& p) {
        if (p.trackNumber == 2)
            setRow(2, "octave", 3);
    });
    Result<RewriteResult> result = m_rewriter.apply(m_state, table(), marks);
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(readFile(head()), unchanged);
    EXPECT_EQ(unchanged, file);
    expectReadable(head(), 3);
}

TEST_F(MidiApplyTest, CancelLeavesTheHeaderAndTheFinishedTracksAndTheNextRunStartsAfresh)
{
    Bytes file = threeTrackSong();
    MidiFileSummary summary = open(file);
    Marks marks{0, static_cast<double>(summary.lengthMilliseconds)};
    m_rewriter.setProgressHandler([&](const RewriteProgress& p) {
        if (p.trackNumber == 2)
            m_rewriter.requestCancel();
    });
    Result<RewriteResult> cancelled = m_rewriter.apply(m_state, table(), marks);
    ASSERT_TRUE(cancelled.ok()) << cancelled.error();
    EXPECT_EQ(cancelled->outcome, RewriteOutcome::Cancelled);
    EXPECT_TRUE(m_state.RowCommitFlag);
    Bytes partial = readFile(head());
    Bytes firstTrack = test::trackChunk(
        test::TrackBuilder().tempo(0, 500000).text(0, "song").endOfTrack(4000).events());
    Bytes expected(file.begin(), file.begin() + 14);
    expected.insert(expected.end(), firstTrack.begin(), firstTrack.end());
    EXPECT_EQ(partial, expected);
    expectReadable(head(), 1);

    m_rewriter.setProgressHandler({});
    Result<RewriteResult> again = m_rewriter.apply(m_state, table(), marks);
    ASSERT_TRUE(again.ok()) << again.error();
    EXPECT_EQ(again->outcome, RewriteOutcome::Finished);
    EXPECT_EQ(readFile(head()), file);
    expectReadable(head(), 3);
}

TEST_F(MidiApplyTest, AFailedRunClosesItsFilesAndTheNextRunWorks)
{
    Bytes file = threeTrackSong();
    MidiFileSummary summary = open(file);
    Marks marks{0, static_cast<double>(summary.lengthMilliseconds)};
    int writes = 0;
    setFileFaultHook([&](FileOp op, const fs::path& p) {
        return op == FileOp::Write && p.filename() == "head" && ++writes == 3 ? ENOSPC : 0;
    });
    Result<RewriteResult> failed = m_rewriter.apply(m_state, table(), marks);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), "Cannot write \"" + head().string() + "\": " + systemMessage(ENOSPC));
    EXPECT_FALSE(m_rewriter.isRunning());
    EXPECT_TRUE(m_state.RowCommitFlag);

    setFileFaultHook({});
    Result<RewriteResult> again = m_rewriter.apply(m_state, table(), marks);
    ASSERT_TRUE(again.ok()) << again.error();
    EXPECT_EQ(readFile(head()), file);
}

TEST_F(MidiApplyTest, ASecondRunCannotStartWhileOneIsGoing)
{
    Bytes file = threeTrackSong();
    MidiFileSummary summary = open(file);
    Marks marks{0, static_cast<double>(summary.lengthMilliseconds)};
    std::optional<std::string> refusal;
    m_rewriter.setProgressHandler([&](const RewriteProgress&) {
        if (refusal)
            return;
        Result<RewriteResult> nested = m_rewriter.apply(m_state, table(), marks);
        refusal = nested ? "" : nested.error();
        // The refused click does not end the run that is going.
        EXPECT_TRUE(m_rewriter.isRunning());
        EXPECT_FALSE(m_state.RowCommitFlag);
    });
    Result<RewriteResult> result = m_rewriter.apply(m_state, table(), marks);
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(refusal, "A rewrite is already running.");
    EXPECT_EQ(readFile(head()), file);
}

TEST_F(MidiApplyTest, AMarkMessageLeavesEveryFileAlone)
{
    Bytes file = threeTrackSong();
    MidiFileSummary summary = open(file);
    ASSERT_TRUE(m_rewriter.apply(m_state, table(), {0, static_cast<double>(summary.lengthMilliseconds)}).ok());
    Bytes earlier = readFile(head());
    writeFile("home/midi/debug.txt", asBytes("kept\n"));

    Result<RewriteResult> refused =
        m_rewriter.apply(m_state, table(), {0, static_cast<double>(summary.lengthMilliseconds + 1)});
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), "End Mark cannot exceed the length of the MIDI Song.");
    EXPECT_EQ(readFile(head()), earlier);
    ByteView kept = asBytes("kept\n");
    EXPECT_EQ(readFile(debugFile()), Bytes(kept.begin(), kept.end()));
    EXPECT_TRUE(m_state.RowCommitFlag);
}

TEST_F(MidiApplyTest, WithoutAnOpenFileThereIsNothingToApply)
{
    Result<RewriteResult> result = m_rewriter.apply(m_state, table(), {0, 0});
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), "No MIDI file is open.");
    EXPECT_FALSE(fs::exists(head()));
}

}  // namespace
}  // namespace chwr
