#include "midi_edit/ui/song_view.h"

#include "tests/gui/gui_fixture.h"

namespace chwr::test {
namespace {

struct Bar {
    int channel, key, startMs, endMs;
};

constexpr int kLengthMs = 10000;
constexpr int kEmptyRow = SongView::kRulerHeight + 1; // below the ruler: the spare key above the highest note
// Channel 1 key 60, Channel 4 key 72 (an octave above), Channel 2 key 48 and a drum on
// Channel 10; each channel plays program 40 plus its status channel.
const std::vector<Bar> kBars = {
    {0, 60, 2000, 3000}, {3, 72, 5000, 6000}, {1, 48, 4000, 4600}, {9, 38, 7000, 7100}};

// The song view on the "Modify MIDI" tab of the real window, the song above opened. At 500
// ticks per quarter and 500000 microseconds per quarter one tick is one millisecond.
class SongViewTest : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        SmfBuilder song(1, 500);
        song.track().tempo(0, 500000).endOfTrack(kLengthMs);
        for (const auto& [channel, key, startMs, endMs] : kBars)
            song.track()
                .programChange(0, channel, 40 + channel)
                .noteOn(static_cast<std::uint32_t>(startMs), channel, key, 100)
                .noteOff(static_cast<std::uint32_t>(endMs - startMs), channel, key)
                .endOfTrack();
        openWindow();
        said();
        form->resize(1000, 900);
        form->SSTab1->setCurrentWidget(&modify());
        open(writeFile("songs/view.mid", song.build()), kLengthMs);
        QCoreApplication::processEvents();
        ASSERT_EQ(said(), "");
        ASSERT_FALSE(view().shownSong().empty());
    }
    SongView& view() { return *modify().songView; }
    QWidget* canvas() { return view().viewport(); }
    QImage picture() { return canvas()->grab().toImage(); }
    // The pixel column of a time, the whole song fitted into the width.
    int columnOf(double ms) { return static_cast<int>(std::floor(ms * canvas()->width() / kLengthMs)); }
    // The first and last pixel in a colour along column x (y < 0) or row y (x < 0); -1 for none.
    static std::pair<int, int> span(const QImage& image, QRgb colour, int x, int y)
    {
        std::pair<int, int> found{-1, -1};
        for (int i = 0; i < (x < 0 ? image.width() : image.height()); ++i)
            if (image.pixel(x < 0 ? i : x, x < 0 ? y : i) == colour)
                found = {found.first < 0 ? i : found.first, i};
        return found;
    }
    // The middle row of a column painted in a colour; -1 when none is.
    static int rowOf(const QImage& image, int x, QRgb colour)
    {
        const auto [first, last] = span(image, colour, x, -1);
        return first < 0 ? -1 : (first + last) / 2;
    }
    static QRgb colourOf(int channel) { return channelColour(channel).rgb(); }
};

// Each note is a bar of its channel's colour at its key and time, named on hover; its
// channel's row shifts it by octaves and fades it by a lowered velocity or volume.
TEST_F(SongViewTest, EachNoteIsABarOfItsChannelsColourThatItsRowShiftsAndFades)
{
    const QImage image = picture();
    std::map<int, int> rowOfKey;
    for (const Bar& bar : kBars) {
        SCOPED_TRACE(testing::Message() << "channel " << bar.channel << " key " << bar.key);
        // A drum is a short tick at its start.
        const int middle = columnOf(bar.channel == 9 ? bar.startMs : (bar.startMs + bar.endMs) / 2.0);
        const int row = rowOf(image, middle, colourOf(bar.channel));
        ASSERT_GE(row, 0);
        rowOfKey[bar.channel == 9 ? -1 : bar.key] = row;
        const auto [first, last] = span(image, colourOf(bar.channel), -1, row);
        EXPECT_EQ(first, columnOf(bar.startMs));
        // A bar stops short of its end's column, apart from a note that follows.
        EXPECT_EQ(last, bar.channel == 9 ? first + 1 : columnOf(bar.endMs) - 2);
        // Each channel's colour is its own, and its row's swatch shows it.
        for (const Bar& other : kBars)
            EXPECT_TRUE(other.channel == bar.channel || rowOf(image, middle, colourOf(other.channel)) < 0);
        if (bar.channel != 9) {
            const QImage swatch = editor(bar.channel).lblColour->grab().toImage();
            EXPECT_EQ(swatch.pixel(swatch.rect().center()), colourOf(bar.channel));
        }
    }
    // Higher keys higher up; the drums in their band below every key.
    EXPECT_TRUE(rowOfKey[72] < rowOfKey[60] && rowOfKey[60] < rowOfKey[48] && rowOfKey[48] < rowOfKey[-1]);
    // Neighbouring channels differ in lightness, not in hue alone.
    for (int channel = 1; channel < 16; ++channel)
        EXPECT_GE(std::abs(channelColour(channel).lightness() - channelColour(channel - 1).lightness()), 40);
    const int x = columnOf(2500);
    EXPECT_EQ(view().noteDescriptionAt({x, rowOfKey[60]}),
              "Channel 1: Violin\nC4 (key 60)\n2.000 s to 3.000 s");
    EXPECT_EQ(view().noteDescriptionAt({x, kEmptyRow}), "");
    // An octave up, Channel 1's key 60 stands where Channel 4's key 72 does.
    editor(0).spnOctave->setValue(1);
    EXPECT_EQ(rowOf(picture(), x, colourOf(0)), rowOfKey[72]);
    const QRgb background = view().palette().color(QPalette::Base).rgb();
    const auto fromBackground = [&](QRgb c) {
        return std::abs(qRed(c) - qRed(background)) + std::abs(qGreen(c) - qGreen(background)) +
               std::abs(qBlue(c) - qBlue(background));
    };
    for (QSpinBox* lowered : {editor(0).spnVelocity, editor(0).spnVolume}) {
        SCOPED_TRACE(lowered->objectName().toStdString());
        lowered->setValue(-60);
        const QRgb faded = picture().pixel(x, rowOfKey[72]);
        EXPECT_LT(fromBackground(faded), fromBackground(colourOf(0)));
        EXPECT_NE(faded, background);
        lowered->setValue(0);
    }
    EXPECT_EQ(picture().pixel(x, rowOfKey[72]), colourOf(0));
}

// The marks are lines, each its own colour and two columns wide on the kept side of its
// mark, and what is cut off is shaded. Dragging a line writes its field; a typed mark
// moves its line. "Result" shows what Apply wrote, "Source" the song.
TEST_F(SongViewTest, TheMarksAreLinesThatDragWhatIsCutIsShadedAndResultShowsTheCrop)
{
    preview().setPosition(2500);
    modify().Command9->click();
    modify().txtMarkEndMSec->setText("7500");
    const QImage image = picture();
    const int y = kEmptyRow, start = columnOf(2500), end = columnOf(7500);
    const QRgb kept = image.pixel((start + end) / 2, y), cut = image.pixel(start - 3, y);
    const QRgb startLine = image.pixel(start, y), endLine = image.pixel(end - 1, y);
    EXPECT_LT(QColor(cut).lightness(), QColor(kept).lightness());
    EXPECT_EQ(std::set<QRgb>({startLine, endLine, kept, cut}).size(), 4u);
    const std::pair<int, QRgb> pixels[] = {{start - 1, cut}, {start + 1, startLine}, {start + 2, kept},
                                           {end - 3, kept},  {end - 2, endLine},     {end, cut},
                                           {end + 3, cut}};
    for (const auto& [column, colour] : pixels)
        EXPECT_EQ(image.pixel(column, y), colour) << column;
    QTest::mousePress(canvas(), Qt::LeftButton, {}, QPoint(start + 1, y));
    QTest::mouseMove(canvas(), QPoint(columnOf(1000), y));
    QTest::mouseRelease(canvas(), Qt::LeftButton, {}, QPoint(columnOf(1000), y));
    EXPECT_NEAR(modify().txtMarkStartMSec->text().toDouble(), 1000, view().millisecondsPerPixel() + 1);
    EXPECT_EQ(picture().pixel(columnOf(modify().txtMarkStartMSec->text().toDouble()), y), startLine);
    modify().txtMarkEndMSec->setText("9000");
    EXPECT_EQ(picture().pixel(columnOf(9000) - 1, y), endLine);
    EXPECT_EQ(picture().pixel(end - 1, y), kept);
    // The result starts at the start mark (what the crop keeps is the rewriter's own test):
    // Channel 1's note at 500 ms.
    EXPECT_FALSE(view().optResult->isEnabled());
    apply("1500", "6500");
    ASSERT_EQ(said(), "");
    ASSERT_TRUE(view().optResult->isEnabled());
    view().optResult->click();
    ASSERT_EQ(view().shownSong().notes(0).size(), 1u);
    EXPECT_NEAR(view().shownSong().notes(0)[0].startMs, 500, 1);
    view().optSource->click();
    EXPECT_DOUBLE_EQ(view().shownSong().lengthMs(), kLengthMs);
}

// A click or the arrow keys move the play position and its line, the brackets set the marks;
// Ctrl+wheel and the keys zoom about the time under the pointer, a double click fits the song.
TEST_F(SongViewTest, AClickOrTheKeysMoveThePlayPositionSetTheMarksAndZoom)
{
    const int y = kEmptyRow;
    preview().clearCalls();
    QTest::mouseClick(canvas(), Qt::LeftButton, {}, QPoint(columnOf(4000), y));
    const std::int64_t clicked = preview().position();
    EXPECT_NEAR(clicked, 4000, view().millisecondsPerPixel() + 1);
    EXPECT_EQ(preview().commands(), (Calls{"Stop", "Play", "Stop"}));
    const QRgb line = picture().pixel(columnOf(clicked), y);
    EXPECT_NE(line, picture().pixel(columnOf(clicked) + 3, y));
    QTest::keyClick(&view(), Qt::Key_Right);
    QTest::keyClick(&view(), Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(preview().position(), clicked + 1100);
    QTest::keyClick(&view(), Qt::Key_BracketRight);
    QTest::keyClick(&view(), Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(&view(), Qt::Key_BracketLeft);
    EXPECT_EQ(std::pair(modify().txtMarkStartMSec->text().toLong(), modify().txtMarkEndMSec->text().toLong()),
              std::pair(clicked + 100, clicked + 1100));
    // While playing, the status updates move the line; "Goto Start" moves it too.
    reach(preview(), 8000);
    EXPECT_EQ(picture().pixel(columnOf(8000), y), line);
    modify().Command15->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(picture().pixel(columnOf(double(clicked + 100)), y), line);
    const double fitted = view().millisecondsPerPixel();
    const QPoint pointer(columnOf(6000), 40);
    const double under = view().millisecondsAt(pointer.x());
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

} // namespace
} // namespace chwr::test
