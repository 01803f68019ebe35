#include "midi_edit/ui/song_view.h"

#include "tests/gui/gui_fixture.h"

namespace chwr::test {
namespace {

struct Bar {
    int channel;
    int key;
    int startMs;
    int endMs;
};

constexpr int kLengthMs = 10000;
// Below the ruler, the spare key above the highest note.
constexpr int kEmptyRow = SongView::kRulerHeight + 1;
// Channel 1 key 60, Channel 4 key 72 (an octave above), Channel 2 key 48 and a drum on
// Channel 10; each channel plays program 40 plus its status channel.
const std::vector<Bar> kBars = {
    {0, 60, 2000, 3000}, {3, 72, 5000, 6000}, {1, 48, 4000, 4600}, {9, 38, 7000, 7100}};

// At 500 ticks per quarter and 500000 microseconds per quarter one tick is one millisecond.
Bytes songOf(const std::vector<Bar>& bars)
{
    SmfBuilder song(1, 500);
    song.track().tempo(0, 500000).endOfTrack(kLengthMs);
    for (const Bar& bar : bars)
        song.track()
            .programChange(0, bar.channel, 40 + bar.channel)
            .noteOn(static_cast<std::uint32_t>(bar.startMs), bar.channel, bar.key, 100)
            .noteOff(static_cast<std::uint32_t>(bar.endMs - bar.startMs), bar.channel, bar.key)
            .endOfTrack();
    return song.build();
}

// The song view on the "Modify MIDI" tab of the real window, the song above opened.
class SongViewTest : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        const fs::path song = writeFile("songs/view.mid", songOf(kBars));
        openWindow();
        said();
        form->resize(1000, 900);
        form->SSTab1->setCurrentWidget(&modify());
        ui.answer(song);
        preview().setLength(kLengthMs);
        modify().Command5->click();
        QCoreApplication::processEvents();
        ASSERT_EQ(said(), "");
        ASSERT_FALSE(view().shownSong().empty());
    }
    SongView& view() { return *modify().songView; }
    ScriptedPlayer& preview() { return player(modify().MMControl1); }
    QWidget* canvas() { return view().viewport(); }
    QImage picture() { return canvas()->grab().toImage(); }
    int width() { return canvas()->width(); }
    // The pixel column of a time, the whole song fitted into the width.
    int columnOf(double ms) { return static_cast<int>(std::floor(ms * width() / kLengthMs)); }
    // The rows of a column painted in a colour, as their middle; -1 when none is.
    static double rowOf(const QImage& image, int x, QRgb colour)
    {
        std::vector<int> rows;
        for (int y = 0; y < image.height(); ++y)
            if (image.pixel(x, y) == colour)
                rows.push_back(y);
        return rows.empty() ? -1 : (rows.front() + rows.back()) / 2.0;
    }
    // The first and last column of a row painted in a colour.
    static std::pair<int, int> columnsOf(const QImage& image, int y, QRgb colour)
    {
        int first = -1;
        int last = -1;
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour) {
                first = first < 0 ? x : first;
                last = x;
            }
        return {first, last};
    }
    static QRgb colourOf(int channel) { return channelColour(channel).rgb(); }
    static int distance(QRgb a, QRgb b)
    {
        return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
    }
};

TEST_F(SongViewTest, EachNoteIsABarOfItsChannelsColourAtItsKeyAndTime)
{
    const QImage image = picture();
    std::map<int, double> rowOfKey;
    for (const Bar& bar : kBars) {
        SCOPED_TRACE(testing::Message() << "channel " << bar.channel << " key " << bar.key);
        // A drum is a short tick at its start.
        const int middle = columnOf(bar.channel == 9 ? bar.startMs : (bar.startMs + bar.endMs) / 2.0);
        const double row = rowOf(image, middle, colourOf(bar.channel));
        ASSERT_GE(row, 0);
        rowOfKey[bar.channel == 9 ? -1 : bar.key] = row;
        const auto [first, last] = columnsOf(image, static_cast<int>(row), colourOf(bar.channel));
        EXPECT_EQ(first, columnOf(bar.startMs));
        // A bar stops short of its end's column, apart from a note that follows.
        EXPECT_EQ(last, bar.channel == 9 ? first + 1 : columnOf(bar.endMs) - 2);
        // Each channel's colour is its own, and its row's swatch shows it.
        for (const Bar& other : kBars)
            EXPECT_TRUE(other.channel == bar.channel || rowOf(image, middle, colourOf(other.channel)) < 0);
        if (bar.channel != 9) {
            const QImage swatch =
                modify().DataRepeater1->editors().at(std::size_t(bar.channel))->lblColour->grab().toImage();
            EXPECT_EQ(swatch.pixel(swatch.rect().center()), colourOf(bar.channel));
        }
    }
    // Higher keys higher up; the drums in their band below every key.
    EXPECT_LT(rowOfKey[72], rowOfKey[60]);
    EXPECT_LT(rowOfKey[60], rowOfKey[48]);
    EXPECT_GT(rowOfKey[-1], rowOfKey[48]);
    // Neighbouring channels differ in lightness, not in hue alone.
    for (int channel = 1; channel < 16; ++channel)
        EXPECT_GE(std::abs(channelColour(channel).lightness() - channelColour(channel - 1).lightness()), 40);
}

TEST_F(SongViewTest, TheRowsShiftAndFadeTheirChannelsNotes)
{
    const int middle = columnOf(2500);
    const double unshifted = rowOf(picture(), middle, colourOf(0));
    const double keyOf72 = rowOf(picture(), columnOf(5500), colourOf(3));
    MIDIAdjustControl& row = *modify().DataRepeater1->editors().at(0);
    row.spnOctave->setValue(1);
    // An octave up, Channel 1's key 60 stands where Channel 4's key 72 does.
    EXPECT_EQ(rowOf(picture(), middle, colourOf(0)), keyOf72);
    EXPECT_LT(keyOf72, unshifted);

    const QRgb background = view().palette().color(QPalette::Base).rgb();
    for (QSpinBox* lowered : {row.spnVelocity, row.spnVolume}) {
        SCOPED_TRACE(lowered->objectName().toStdString());
        lowered->setValue(-60);
        const QImage image = picture();
        const QRgb faded = image.pixel(middle, static_cast<int>(keyOf72));
        EXPECT_LT(distance(faded, background), distance(colourOf(0), background));
        EXPECT_NE(faded, background);
        lowered->setValue(0);
    }
    EXPECT_EQ(picture().pixel(middle, static_cast<int>(keyOf72)), colourOf(0));
}

TEST_F(SongViewTest, TheMarksAreLinesAndTheCroppedPartsAreShaded)
{
    // The end mark typed, the start mark set by "Mark Start" at the player's position.
    preview().setPosition(2500);
    modify().Command9->click();
    modify().txtMarkEndMSec->setText("7500");
    const QImage image = picture();
    const int y = kEmptyRow;
    const int start = columnOf(2500);
    const int end = columnOf(7500);
    const QRgb kept = image.pixel((start + end) / 2, y);
    const QRgb cut = image.pixel(start - 3, y);
    EXPECT_LT(QColor(cut).lightness(), QColor(kept).lightness());
    EXPECT_EQ(image.pixel(end + 3, y), cut);
    EXPECT_EQ(image.pixel(start - 1, y), cut);
    EXPECT_EQ(image.pixel(end, y), cut);
    // Two columns of each line on the kept side of its mark, each line its own colour.
    const QRgb startLine = image.pixel(start, y);
    const QRgb endLine = image.pixel(end - 1, y);
    EXPECT_EQ(image.pixel(start + 1, y), startLine);
    EXPECT_EQ(image.pixel(end - 2, y), endLine);
    EXPECT_EQ(image.pixel(start + 2, y), kept);
    EXPECT_EQ(image.pixel(end - 3, y), kept);
    EXPECT_EQ(std::set<QRgb>({startLine, endLine, kept, cut}).size(), 4u);

    // Dragging the start line writes its field.
    QTest::mousePress(canvas(), Qt::LeftButton, {}, QPoint(start + 1, y));
    QTest::mouseMove(canvas(), QPoint(columnOf(1000), y));
    QTest::mouseRelease(canvas(), Qt::LeftButton, {}, QPoint(columnOf(1000), y));
    EXPECT_NEAR(modify().txtMarkStartMSec->text().toDouble(), 1000, view().millisecondsPerPixel() + 1);
    EXPECT_EQ(picture().pixel(columnOf(modify().txtMarkStartMSec->text().toDouble()), y), startLine);
    // A typed end mark moves its line.
    modify().txtMarkEndMSec->setText("9000");
    EXPECT_EQ(picture().pixel(columnOf(9000) - 1, y), endLine);
    EXPECT_EQ(picture().pixel(end - 1, y), kept);
}

TEST_F(SongViewTest, AClickOrTheKeysMoveThePlayPositionAndSetTheMarks)
{
    const int y = kEmptyRow;
    preview().clearCalls();
    QTest::mouseClick(canvas(), Qt::LeftButton, {}, QPoint(columnOf(4000), y));
    ASSERT_THAT(preview().calls(), ::testing::Contains(StartsWith("From=")));
    const std::int64_t clicked = preview().position();
    EXPECT_NEAR(clicked, 4000, view().millisecondsPerPixel() + 1);
    EXPECT_EQ(preview().commands(), (std::vector<std::string>{"Stop", "Play", "Stop"}));
    const QRgb line = picture().pixel(columnOf(clicked), y);
    EXPECT_NE(line, picture().pixel(columnOf(clicked) + 3, y));

    QTest::keyClick(&view(), Qt::Key_Right);
    QTest::keyClick(&view(), Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(preview().position(), clicked + 1100);
    QTest::keyClick(&view(), Qt::Key_BracketRight);
    QTest::keyClick(&view(), Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(&view(), Qt::Key_BracketLeft);
    EXPECT_EQ(modify().txtMarkStartMSec->text().toLongLong(), clicked + 100);
    EXPECT_EQ(modify().txtMarkEndMSec->text().toLongLong(), clicked + 1100);
    // While playing, the status updates move the line; "Goto Start" moves it too.
    preview().setPosition(8000);
    preview().raiseStatusUpdate();
    EXPECT_EQ(picture().pixel(columnOf(8000), y), line);
    modify().Command15->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(picture().pixel(columnOf(double(clicked + 100)), y), line);
}

TEST_F(SongViewTest, ZoomScrollAndFitKeepTheTimeUnderThePointer)
{
    const double fitted = view().millisecondsPerPixel();
    EXPECT_DOUBLE_EQ(fitted, double(kLengthMs) / width());
    const QPoint pointer(columnOf(6000), 40);
    const double under = view().millisecondsAt(pointer.x());
    // Two notches of Ctrl+wheel.
    QWheelEvent zoom(pointer, canvas()->mapToGlobal(pointer), QPoint(),
                     QPoint(0, 2 * QWheelEvent::DefaultDeltasPerStep), Qt::NoButton, Qt::ControlModifier,
                     Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(canvas(), &zoom);
    EXPECT_LT(view().millisecondsPerPixel(), fitted);
    EXPECT_NEAR(view().millisecondsAt(pointer.x()), under, view().millisecondsPerPixel());
    EXPECT_GT(view().horizontalScrollBar()->maximum(), 0);
    QTest::keyClick(&view(), Qt::Key_Minus);
    QTest::keyClick(&view(), Qt::Key_Plus);
    QTest::mouseDClick(canvas(), Qt::LeftButton, {}, pointer);
    EXPECT_DOUBLE_EQ(view().millisecondsPerPixel(), fitted);
    EXPECT_EQ(view().horizontalScrollBar()->maximum(), 0);
}

TEST_F(SongViewTest, HoverNamesTheNoteAndApplyShowsTheResult)
{
    const QImage image = picture();
    const int x = columnOf(2500);
    const QString text = view().noteDescriptionAt(QPoint(x, static_cast<int>(rowOf(image, x, colourOf(0)))));
    EXPECT_EQ(text, "Channel 1: Violin\nC4 (key 60)\n2.000 s to 3.000 s");
    EXPECT_EQ(view().noteDescriptionAt(QPoint(x, kEmptyRow)), "");

    EXPECT_FALSE(view().optResult->isEnabled());
    modify().txtMarkStartMSec->setText("1500");
    modify().txtMarkEndMSec->setText("6500");
    modify().Command11->click();
    ASSERT_EQ(said(), "");
    ASSERT_TRUE(view().optResult->isEnabled());
    view().optResult->click();
    EXPECT_EQ(view().showing(), SongView::Showing::Result);
    // The result starts at the start mark: Channel 1's note now at 500 ms, Channel 4's at
    // 3500 ms, and the drum after the end mark gone.
    EXPECT_LE(view().shownSong().lengthMs(), 5000);
    for (int channel : {0, 3}) {
        ASSERT_EQ(view().shownSong().notes(channel).size(), 1u);
        EXPECT_NEAR(view().shownSong().notes(channel)[0].startMs, channel == 0 ? 500 : 3500, 1);
    }
    EXPECT_TRUE(view().shownSong().notes(9).empty());
    view().optSource->click();
    EXPECT_DOUBLE_EQ(view().shownSong().lengthMs(), kLengthMs);
}

} // namespace
} // namespace chwr::test
