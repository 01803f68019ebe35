#pragma once

#include "midi_edit/channel_table.h"
#include "midi_edit/song_model.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QImage>
#include <QString>

#include <array>
#include <cstdint>

class QButtonGroup;
class QToolButton;

namespace chwr {

// The colour of a channel (0 to 15) in the song view, and of its row's swatch. Neighbouring
// channels differ in lightness as well as in hue, so the colours stay apart for eyes that
// tell fewer hues apart.
QColor channelColour(int channel);

// The song as a piano roll: time from left to right over the whole song, keys from bottom to
// top, each note a bar in its channel's colour, percussion (Channel 10) as short ticks in a
// band of its own below, a ruler in seconds above. On the source it shows the crop marks as
// lines with the parts the crop removes shaded, and the play position as a line.
//
// The user drags a mark line to move the mark, clicks to move the play position, zooms the
// time axis with Ctrl+wheel or +/- around the pointer and fits the whole song with a double
// click. With the view focused, Left and Right move the play position (Shift for whole
// seconds), [ and ] set the start and end mark at it. The view raises signals for what the
// user asks; the owner moves the player and the mark fields, and tells the view back.
//
// The notes come from SongModel, built once per open; a paint looks up only the notes of
// the visible stretch and writes their bars straight into an image.
class SongView : public QAbstractScrollArea {
    Q_OBJECT
public:
    enum class Showing { Source, Result };

    // The bars never get thinner than this many milliseconds per pixel.
    static constexpr double kFinestMsPerPixel = 0.5;
    // The zoom step of one wheel notch or one + / - key.
    static constexpr double kZoomStep = 1.25;
    // Heights of the ruler and the percussion band, in pixels.
    static constexpr int kRulerHeight = 18;
    static constexpr int kPercussionBandHeight = 26;
    // How near a mark line the pointer grabs it, in pixels.
    static constexpr int kGrabDistance = 4;
    // What Left and Right move the play position by, and with Shift.
    static constexpr std::int64_t kKeyStepMs = 100;
    static constexpr std::int64_t kShiftKeyStepMs = 1000;
    // How far a lowered velocity or volume may fade a note towards the background: a note
    // silenced keeps this much of its colour, so it stays visible.
    static constexpr double kFaintestNote = 0.15;

    explicit SongView(QWidget* parent = nullptr);

    // A newly opened song: shown fitted, as the source; the result goes.
    void setSource(SongModel song);
    // The result of "Apply" (or none): "Result" can be chosen while there is one.
    void setResult(SongModel song);
    void clearResult();
    bool hasResult() const { return m_hasResult; }
    void setShowing(Showing showing);
    Showing showing() const { return m_showing; }
    const SongModel& shownSong() const { return m_showing == Showing::Result ? m_result : m_source; }

    // The rows' changes, which the source is drawn with: octave shifts move the notes, a
    // lowered velocity or volume fades them. The result holds its changes already.
    void setAdjustments(const ChannelAdjustments& adjustments);

    // The crop marks and the play positions of the source and the result, in milliseconds.
    void setStartMark(double milliseconds);
    void setEndMark(double milliseconds);
    double startMark() const { return m_startMark; }
    double endMark() const { return m_endMark; }
    void setPosition(double milliseconds);
    double position() const { return m_position; }
    void setResultPosition(double milliseconds);

    // The time axis: fits the whole song into the width, or zooms by factor (above 1 nearer)
    // keeping the time under viewport x where it is.
    void fitWholeSong();
    void zoomAround(double factor, int x);
    double millisecondsPerPixel() const { return m_msPerPixel; }
    // Viewport x of a time (the pixel column it falls in) and the time in the middle of a
    // column.
    int xOf(double milliseconds) const;
    double millisecondsAt(int x) const;

    // What the tool tip says of the note under a viewport point, or empty where there is
    // none: channel, instrument, key name and time.
    QString noteDescriptionAt(const QPoint& point) const;
    // The name of a key, as C4 for 60 (middle C).
    static QString keyName(int key);

    // The "Source / Result" toggle beside the scroll bar.
    QToolButton* optSource = nullptr;
    QToolButton* optResult = nullptr;

signals:
    // The user dragged a mark line or set a mark with [ or ].
    void startMarkDragged(qint64 milliseconds);
    void endMarkDragged(qint64 milliseconds);
    // The user clicked the source or moved its position with the keys.
    void positionRequested(qint64 milliseconds);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

private:
    enum class Mark { None, Start, End };

    // Where things go in the viewport for the song shown, worked out once per paint.
    struct Layout {
        int plotTop = 0;
        int plotBottom = 0;
        int bandTop = 0;
        int bandBottom = 0;
        bool hasBand = false;
        int lowKey = 0;
        int highKey = 0;
        double rowHeight = 1;
        // The time axis: the scroll bar's value and the zoom.
        int scroll = 0;
        double msPerPixel = 1;
        // Each shown key's bar, top row and the row below it.
        std::array<int, smf::kDataByteMax + 1> barTop{};
        std::array<int, smf::kDataByteMax + 1> barBottom{};
    };
    Layout layout() const;
    // The rows' change for a channel of the song shown (none on the result).
    const ChannelChange& changeOf(int channel) const;
    // A note's bar (or tick), its key shifted by octaves.
    static QRect noteRect(const SongNote& note, int octaves, const Layout& where);
    void paintNotes(const QRect& clip, const Layout& where);
    void paintRuler(QPainter& painter, const QRect& clip) const;
    void paintMarks(QPainter& painter, const Layout& where) const;
    bool isSourceShown() const { return m_showing == Showing::Source && !m_source.empty(); }
    double fittedMsPerPixel() const;
    void updateScrollRange();
    Mark markNear(int x) const;
    void dragMark(Mark mark, int x);
    void requestPosition(double milliseconds);
    std::int64_t clampedToSong(double milliseconds) const;

    SongModel m_source;
    SongModel m_result;
    bool m_hasResult = false;
    Showing m_showing = Showing::Source;
    ChannelAdjustments m_adjustments{};
    double m_startMark = 0;
    double m_endMark = 0;
    double m_position = 0;
    double m_resultPosition = 0;
    double m_msPerPixel = 1;
    bool m_fitted = true;
    Mark m_dragging = Mark::None;
    QButtonGroup* m_toggle = nullptr;
    // The bars of the last paint, reused while the size stays.
    QImage m_notesImage;
};

} // namespace chwr
