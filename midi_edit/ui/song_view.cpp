#include "midi_edit/ui/song_view.h"

#include "midi_edit/general_midi.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolButton>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace chwr {

namespace {

constexpr int kKeyCount = smf::kDataByteMax + 1;
constexpr int kHighestKey = smf::kDataByteMax;
// The General MIDI percussion keys (Acoustic Bass Drum to Open Triangle), spread over the
// percussion band; keys outside them sit at its edges.
constexpr int kFirstDrumKey = 35;
constexpr int kLastDrumKey = 81;
constexpr int kDrumTickWidth = 2;
constexpr int kDrumTickHeight = 4;
constexpr int kBandGap = 2;
constexpr int kMarkLineWidth = 2;
// The keys shown when the song has no notes but percussion: an octave around middle C.
constexpr int kMiddleC = 60;
// A bar longer or taller than this leaves its last pixel empty, so that notes that follow
// each other on one key, or lie on neighbouring keys, stay apart.
constexpr int kGapFrom = 3;
// The ruler's labels stand at least this far apart.
constexpr int kMinimumLabelSpacing = 64;
constexpr double kMillisecondsPerSecond = 1000.0;
// An x this far outside the viewport stands for any farther one.
constexpr double kFarOutside = 1 << 24;
// The widest the whole song may be drawn, in pixels, zoomed in as far as it goes.
constexpr double kWidestContent = 1 << 28;
constexpr std::array<double, 13> kRulerStepsSeconds = {0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600};
// The channel colours: hues spread by 7/16 of the circle from one channel to the next, and
// the lightness alternating, so neighbours differ in both.
constexpr int kHueSteps = 16;
constexpr int kHueStride = 7;
constexpr int kSaturation = 210;
constexpr int kDarkLightness = 82;
constexpr int kLightLightness = 150;
// The shade over the parts the crop removes, the mark lines and the play position.
const QColor kCroppedShade(0, 0, 0, 72);
const QColor kStartMarkColour(0, 110, 40);
const QColor kEndMarkColour(215, 60, 0);
const QColor kPositionColour(30, 60, 230);

QRgb blend(QRgb colour, QRgb background, double strength)
{
    const auto mix = [strength](int a, int b) {
        return static_cast<int>(std::lround(a * strength + b * (1 - strength)));
    };
    return qRgb(mix(qRed(colour), qRed(background)), mix(qGreen(colour), qGreen(background)),
                mix(qBlue(colour), qBlue(background)));
}

// How much of its colour a note keeps under the row's change: what a lowered velocity
// leaves of the note's own, times what a lowered volume leaves of the channel's.
double noteStrength(int velocity, const ChannelChange& change)
{
    constexpr int kLoudest = smf::kDataByteMax;
    double strength = 1;
    if (change.velocity < 0 && velocity > 0)
        strength = std::clamp(velocity + change.velocity, 0, kLoudest) / static_cast<double>(velocity);
    if (change.volume < 0)
        strength *= std::max(0, kLoudest + change.volume) / static_cast<double>(kLoudest);
    return std::max(strength, SongView::kFaintestNote);
}

int shiftKey(int key, int octaves)
{
    return std::clamp(key + octaves * smf::kSemitonesPerOctave, 0, kHighestKey);
}

// A rectangle of one colour into the rows of an RGB32 image, from left to right (excluded)
// and top to bottom (excluded).
void fillRect(uchar* bits, qsizetype bytesPerLine, int left, int top, int right, int bottom, QRgb colour)
{
    for (int y = top; y < bottom; ++y) {
        auto* line = reinterpret_cast<QRgb*>(bits + y * bytesPerLine);
        std::fill(line + left, line + right, colour);
    }
}

// The viewport column of a time on the layout's axis (xOf() without the widget).
int columnAt(double milliseconds, double msPerPixel, int scroll)
{
    // Far outside the viewport every x draws the same; the clamp keeps it an int.
    const double x = std::floor(milliseconds / msPerPixel) - scroll;
    return static_cast<int>(std::clamp(x, -kFarOutside, kFarOutside));
}

QString secondsText(double milliseconds)
{
    return QString::number(milliseconds / kMillisecondsPerSecond, 'f', 3) + QStringLiteral(" s");
}

} // namespace

QColor channelColour(int channel)
{
    const int index = std::clamp(channel, 0, smf::kChannelCount - 1);
    const int hue = (index * kHueStride % kHueSteps) * 360 / kHueSteps;
    return QColor::fromHsl(hue, kSaturation, index % 2 == 0 ? kDarkLightness : kLightLightness);
}

SongView::SongView(QWidget* parent) : QAbstractScrollArea(parent)
{
    setObjectName("SongView");
    setAccessibleName(tr("Song"));
    setAccessibleDescription(
        tr("The notes of the song over time, with the crop marks and the play position"));
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Wider with the window, but not taller: the height goes to the channel rows first.
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);

    auto* toggle = new QWidget(this);
    toggle->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* row = new QHBoxLayout(toggle);
    row->setContentsMargins(0, 0, 4, 0);
    row->setSpacing(0);
    m_toggle = new QButtonGroup(this);
    const auto makeOption = [&](const char* name, const QString& caption, const QString& tip) {
        auto* option = new QToolButton(toggle);
        option->setObjectName(name);
        option->setText(caption);
        option->setToolTip(tip);
        option->setCheckable(true);
        option->setAutoRaise(false);
        m_toggle->addButton(option);
        row->addWidget(option);
        return option;
    };
    optSource = makeOption("optSource", tr("So&urce"), tr("Show the song as opened, with the crop marks"));
    optResult = makeOption("optResult", tr("&Result"), tr("Show what the last \"Apply\" wrote"));
    optSource->setChecked(true);
    optResult->setEnabled(false);
    addScrollBarWidget(toggle, Qt::AlignLeft);
    connect(optSource, &QToolButton::clicked, this, [this] { setShowing(Showing::Source); });
    connect(optResult, &QToolButton::clicked, this, [this] { setShowing(Showing::Result); });
}

void SongView::setSource(SongModel song)
{
    m_source = std::move(song);
    m_position = 0;
    clearResult();
    fitWholeSong();
}

void SongView::setResult(SongModel song)
{
    m_result = std::move(song);
    m_resultPosition = 0;
    m_hasResult = true;
    optResult->setEnabled(true);
    if (m_showing == Showing::Result)
        fitWholeSong();
    viewport()->update();
}

void SongView::clearResult()
{
    m_result = SongModel();
    m_hasResult = false;
    optResult->setEnabled(false);
    setShowing(Showing::Source);
}

void SongView::setShowing(Showing showing)
{
    if (showing == Showing::Result && !m_hasResult)
        showing = Showing::Source;
    (showing == Showing::Result ? optResult : optSource)->setChecked(true);
    if (showing == m_showing)
        return;
    m_showing = showing;
    m_dragging = Mark::None;
    fitWholeSong();
}

void SongView::setAdjustments(const ChannelAdjustments& adjustments)
{
    if (adjustments == m_adjustments)
        return;
    m_adjustments = adjustments;
    viewport()->update();
}

void SongView::setStartMark(double milliseconds)
{
    m_startMark = milliseconds;
    viewport()->update();
}

void SongView::setEndMark(double milliseconds)
{
    m_endMark = milliseconds;
    viewport()->update();
}

void SongView::setPosition(double milliseconds)
{
    m_position = milliseconds;
    // While the song plays on past the right edge, the view turns the page.
    if (m_showing == Showing::Source && m_dragging == Mark::None) {
        const int x = xOf(milliseconds);
        const int width = viewport()->width();
        if (x < 0 || x >= width)
            horizontalScrollBar()->setValue(horizontalScrollBar()->value() + x - width / 4);
    }
    viewport()->update();
}

void SongView::setResultPosition(double milliseconds)
{
    m_resultPosition = milliseconds;
    if (m_showing == Showing::Result)
        viewport()->update();
}

double SongView::fittedMsPerPixel() const
{
    const double length = shownSong().lengthMs();
    return length > 0 ? length / std::max(1, viewport()->width()) : 1.0;
}

void SongView::fitWholeSong()
{
    m_fitted = true;
    m_msPerPixel = fittedMsPerPixel();
    updateScrollRange();
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

void SongView::zoomAround(double factor, int x)
{
    const double atPointer = millisecondsAt(x);
    const double fitted = fittedMsPerPixel();
    // However long the song, its whole width stays within what a scroll bar counts.
    const double finest = std::max(kFinestMsPerPixel, shownSong().lengthMs() / kWidestContent);
    m_msPerPixel = std::clamp(m_msPerPixel / factor, std::min(finest, fitted), fitted);
    m_fitted = m_msPerPixel >= fitted;
    updateScrollRange();
    horizontalScrollBar()->setValue(static_cast<int>(std::lround(atPointer / m_msPerPixel - 0.5)) - x);
    viewport()->update();
}

void SongView::updateScrollRange()
{
    const int width = viewport()->width();
    // Fitted, the song is as wide as the view whatever the rounding.
    const double content = m_fitted ? width : std::ceil(shownSong().lengthMs() / m_msPerPixel);
    QScrollBar* bar = horizontalScrollBar();
    bar->setRange(
        0, std::max(0, static_cast<int>(std::min<double>(content, std::numeric_limits<int>::max() / 2)) -
                           width));
    bar->setPageStep(std::max(1, width));
    bar->setSingleStep(std::max(1, width / 20));
}

int SongView::xOf(double milliseconds) const
{
    return columnAt(milliseconds, m_msPerPixel, horizontalScrollBar()->value());
}

double SongView::millisecondsAt(int x) const
{
    return (x + horizontalScrollBar()->value() + 0.5) * m_msPerPixel;
}

std::int64_t SongView::clampedToSong(double milliseconds) const
{
    return std::clamp<std::int64_t>(std::llround(milliseconds), 0,
                                    static_cast<std::int64_t>(std::ceil(shownSong().lengthMs())));
}

const ChannelChange& SongView::changeOf(int channel) const
{
    static const ChannelChange kNoChange;
    if (m_showing == Showing::Result || channel < 0 || channel >= smf::kChannelCount)
        return kNoChange;
    return m_adjustments[static_cast<std::size_t>(channel)];
}

SongView::Layout SongView::layout() const
{
    const SongModel& song = shownSong();
    Layout where;
    where.plotTop = kRulerHeight;
    where.bandBottom = viewport()->height();
    where.hasBand = !song.notes(kPercussionChannel).empty();
    where.bandTop = where.hasBand ? where.bandBottom - kPercussionBandHeight : where.bandBottom;
    where.plotBottom = where.hasBand ? where.bandTop - kBandGap : where.bandBottom;

    // Every key a channel plays, where it is and where its octave shift takes it, with a
    // key to spare on each side and at least an octave: a shift shows as the notes moving
    // against the keys.
    int low = kKeyCount;
    int high = -1;
    for (int channel = 0; channel < smf::kChannelCount; ++channel) {
        const std::optional<std::pair<int, int>> keys = song.keyRange(channel);
        if (channel == kPercussionChannel || !keys)
            continue;
        const int octaves = changeOf(channel).octave;
        low = std::min({low, keys->first, shiftKey(keys->first, octaves)});
        high = std::max({high, keys->second, shiftKey(keys->second, octaves)});
    }
    if (high < 0)
        low = high = kMiddleC;
    low = std::max(low - 1, 0);
    high = std::min(high + 1, kHighestKey);
    const int missing = smf::kSemitonesPerOctave - (high - low + 1);
    if (missing > 0) {
        low = std::max(low - missing / 2, 0);
        high = std::min(low + smf::kSemitonesPerOctave - 1, kHighestKey);
        low = high - smf::kSemitonesPerOctave + 1;
    }
    where.lowKey = low;
    where.highKey = high;
    where.rowHeight =
        std::max(0, where.plotBottom - where.plotTop) / static_cast<double>(where.highKey - where.lowKey + 1);
    for (int key = where.lowKey; key <= where.highKey; ++key) {
        const int row = key - where.lowKey;
        const int top = static_cast<int>(std::lround(where.plotBottom - (row + 1) * where.rowHeight));
        int bottom = static_cast<int>(std::lround(where.plotBottom - row * where.rowHeight));
        if (bottom - top >= kGapFrom)
            --bottom;
        where.barTop[static_cast<std::size_t>(key)] = top;
        where.barBottom[static_cast<std::size_t>(key)] = std::max(bottom, top + 1);
    }
    where.scroll = horizontalScrollBar()->value();
    where.msPerPixel = m_msPerPixel;
    return where;
}

QRect SongView::noteRect(const SongNote& note, int octaves, const Layout& where)
{
    const int key = shiftKey(note.key, octaves);
    const int left = columnAt(note.startMs, where.msPerPixel, where.scroll);
    if (note.channel == kPercussionChannel) {
        const int drum = std::clamp(key, kFirstDrumKey, kLastDrumKey);
        const int room = where.bandBottom - where.bandTop - kDrumTickHeight;
        const int top = where.bandTop + (kLastDrumKey - drum) * room / (kLastDrumKey - kFirstDrumKey);
        return QRect(left, top, kDrumTickWidth, kDrumTickHeight);
    }
    int right = columnAt(note.endMs, where.msPerPixel, where.scroll);
    if (right - left >= kGapFrom)
        --right;
    right = std::max(right, left + 1);
    const auto row = static_cast<std::size_t>(key);
    return QRect(QPoint(left, where.barTop[row]), QPoint(right - 1, where.barBottom[row] - 1));
}

void SongView::paintNotes(const QRect& clip, const Layout& where)
{
    const QSize size = viewport()->size();
    if (m_notesImage.size() != size)
        m_notesImage = QImage(size, QImage::Format_RGB32);
    const QRgb background = palette().color(QPalette::Base).rgb();
    const QRgb grid = blend(palette().color(QPalette::Text).rgb(), background, 0.1);
    const int clipLeft = std::max(clip.left(), 0);
    const int clipRight = std::min(clip.right() + 1, size.width());
    const int clipTop = std::max(clip.top(), 0);
    const int clipBottom = std::min(clip.bottom() + 1, size.height());
    if (clipLeft >= clipRight || clipTop >= clipBottom)
        return;
    uchar* const bits = m_notesImage.bits();
    const qsizetype bytesPerLine = m_notesImage.bytesPerLine();
    fillRect(bits, bytesPerLine, clipLeft, clipTop, clipRight, clipBottom, background);

    // The percussion band, tinted, below a line.
    const auto fillRows = [&](int top, int bottom, QRgb colour) {
        top = std::max(top, clipTop);
        bottom = std::min(bottom, clipBottom);
        if (top < bottom)
            fillRect(bits, bytesPerLine, clipLeft, top, clipRight, bottom, colour);
    };
    if (where.hasBand) {
        fillRows(where.plotBottom, where.bandTop, grid);
        fillRows(where.bandTop, where.bandBottom, blend(grid, background, 0.4));
    }
    // A line under each C, the octaves' boundaries.
    const int firstC =
        (where.lowKey + smf::kSemitonesPerOctave - 1) / smf::kSemitonesPerOctave * smf::kSemitonesPerOctave;
    for (int key = firstC; key <= where.highKey; key += smf::kSemitonesPerOctave) {
        const int y =
            static_cast<int>(std::lround(where.plotBottom - (key - where.lowKey) * where.rowHeight)) - 1;
        fillRows(y, y + 1, grid);
    }

    const SongModel& song = shownSong();
    // A drum's tick reaches past the column of its start.
    const double fromMs = (clipLeft - kDrumTickWidth + where.scroll) * m_msPerPixel;
    const double toMs = (clipRight + where.scroll) * m_msPerPixel;
    // Later channels are drawn over earlier ones.
    for (int channel = 0; channel < smf::kChannelCount; ++channel) {
        const std::span<const SongNote> notes = song.notesAround(channel, fromMs, toMs);
        if (notes.empty())
            continue;
        // One colour per velocity, faded by the row's change.
        const ChannelChange& change = changeOf(channel);
        const QRgb full = channelColour(channel).rgb();
        std::array<QRgb, kKeyCount> colours;
        const bool fades = change.velocity < 0 || change.volume < 0;
        for (int velocity = 0; velocity < kKeyCount; ++velocity)
            colours[static_cast<std::size_t>(velocity)] =
                fades ? blend(full, background, noteStrength(velocity, change)) : full;
        for (const SongNote& note : notes) {
            const QRect bar = noteRect(note, change.octave, where);
            const int left = std::max(bar.left(), clipLeft);
            const int right = std::min(bar.right() + 1, clipRight);
            const int top = std::max(bar.top(), clipTop);
            const int bottom = std::min(bar.bottom() + 1, clipBottom);
            if (left < right && top < bottom)
                fillRect(bits, bytesPerLine, left, top, right, bottom, colours[note.velocity]);
        }
    }
}

void SongView::paintRuler(QPainter& painter, const QRect& clip) const
{
    const QRect ruler(0, 0, viewport()->width(), kRulerHeight);
    if (!ruler.intersects(clip))
        return;
    painter.fillRect(ruler, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawLine(ruler.bottomLeft(), ruler.bottomRight());
    if (shownSong().lengthMs() <= 0)
        return;
    double stepSeconds = kRulerStepsSeconds.back();
    for (double candidate : kRulerStepsSeconds) {
        if (candidate * kMillisecondsPerSecond / m_msPerPixel >= kMinimumLabelSpacing) {
            stepSeconds = candidate;
            break;
        }
    }
    // Songs of days (a tempo of minutes per quarter) step on in tens.
    while (stepSeconds * kMillisecondsPerSecond / m_msPerPixel < kMinimumLabelSpacing)
        stepSeconds *= 10;
    const double stepMs = stepSeconds * kMillisecondsPerSecond;
    const auto first = static_cast<std::int64_t>(std::floor(millisecondsAt(0) / stepMs));
    const auto last = static_cast<std::int64_t>(std::ceil(millisecondsAt(ruler.width()) / stepMs));
    const int decimals = stepSeconds < 1 ? 1 : 0;
    for (std::int64_t i = std::max<std::int64_t>(first, 0); i <= last; ++i) {
        const int x = xOf(static_cast<double>(i) * stepMs);
        painter.drawLine(x, kRulerHeight - 5, x, kRulerHeight - 1);
        painter.drawText(
            QRect(x + 2, 0, kMinimumLabelSpacing, kRulerHeight - 2), Qt::AlignLeft | Qt::AlignVCenter,
            QString::number(static_cast<double>(i) * stepSeconds, 'f', decimals) + QStringLiteral(" s"));
    }
}

void SongView::paintMarks(QPainter& painter, const Layout& where) const
{
    const int height = where.bandBottom;
    if (isSourceShown()) {
        // The start line lies just after its mark and the end line just before its own, both
        // on the part that stays.
        const int start = xOf(m_startMark);
        const int end = xOf(m_endMark);
        const int songEnd = xOf(m_source.lengthMs()) + 1;
        if (start > xOf(0))
            painter.fillRect(QRect(QPoint(xOf(0), where.plotTop), QPoint(start - 1, height - 1)),
                             kCroppedShade);
        if (end < songEnd)
            painter.fillRect(QRect(QPoint(end, where.plotTop), QPoint(songEnd - 1, height - 1)),
                             kCroppedShade);
        painter.fillRect(QRect(start, 0, kMarkLineWidth, height), kStartMarkColour);
        painter.fillRect(QRect(end - kMarkLineWidth, 0, kMarkLineWidth, height), kEndMarkColour);
    }
    const double position = m_showing == Showing::Source ? m_position : m_resultPosition;
    if (!shownSong().empty())
        painter.fillRect(QRect(xOf(position), where.plotTop, 1, height - where.plotTop), kPositionColour);
}

void SongView::paintEvent(QPaintEvent* event)
{
    const QRect clip = event->rect();
    const Layout where = layout();
    paintNotes(clip, where);
    QPainter painter(viewport());
    painter.drawImage(clip.topLeft(), m_notesImage, clip);
    paintRuler(painter, clip);
    paintMarks(painter, where);
    // The keys act on the view only while it has the focus, so it shows it has.
    if (hasFocus()) {
        painter.setPen(palette().color(QPalette::Highlight));
        painter.drawRect(viewport()->rect().adjusted(0, 0, -1, -1));
    }
}

void SongView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void SongView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void SongView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    const double fitted = fittedMsPerPixel();
    if (m_fitted || m_msPerPixel > fitted) {
        m_fitted = true;
        m_msPerPixel = fitted;
    }
    updateScrollRange();
}

bool SongView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString text = noteDescriptionAt(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, viewport());
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

SongView::Mark SongView::markNear(int x) const
{
    if (!isSourceShown())
        return Mark::None;
    const int start = xOf(m_startMark) + kMarkLineWidth / 2;
    const int end = xOf(m_endMark) - kMarkLineWidth / 2;
    const int toStart = std::abs(x - start);
    const int toEnd = std::abs(x - end);
    if (std::min(toStart, toEnd) > kGrabDistance)
        return Mark::None;
    // Halfway between the two lines the start line is taken.
    return toStart <= toEnd ? Mark::Start : Mark::End;
}

void SongView::dragMark(Mark mark, int x)
{
    const std::int64_t at = clampedToSong(millisecondsAt(x));
    if (mark == Mark::Start) {
        const auto start = std::min<double>(static_cast<double>(at), m_endMark);
        if (start == m_startMark)
            return;
        setStartMark(start);
        emit startMarkDragged(static_cast<qint64>(std::llround(start)));
    } else if (mark == Mark::End) {
        const auto end = std::max<double>(static_cast<double>(at), m_startMark);
        if (end == m_endMark)
            return;
        setEndMark(end);
        emit endMarkDragged(static_cast<qint64>(std::llround(end)));
    }
}

void SongView::requestPosition(double milliseconds)
{
    if (!isSourceShown())
        return;
    const std::int64_t at = clampedToSong(milliseconds);
    setPosition(static_cast<double>(at));
    emit positionRequested(at);
}

void SongView::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton)
        return;
    const int x = event->position().toPoint().x();
    m_dragging = markNear(x);
    if (m_dragging == Mark::None)
        requestPosition(millisecondsAt(x));
}

void SongView::mouseMoveEvent(QMouseEvent* event)
{
    const int x = event->position().toPoint().x();
    if (m_dragging != Mark::None) {
        dragMark(m_dragging, x);
        return;
    }
    viewport()->setCursor(markNear(x) != Mark::None ? Qt::SizeHorCursor : Qt::ArrowCursor);
}

void SongView::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_dragging != Mark::None && event->button() == Qt::LeftButton) {
        dragMark(m_dragging, event->position().toPoint().x());
        m_dragging = Mark::None;
    }
}

void SongView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        fitWholeSong();
}

void SongView::wheelEvent(QWheelEvent* event)
{
    const int notches = event->angleDelta().y() / QWheelEvent::DefaultDeltasPerStep;
    if (event->modifiers() & Qt::ControlModifier) {
        if (notches != 0)
            zoomAround(std::pow(kZoomStep, notches), event->position().toPoint().x());
        event->accept();
        return;
    }
    // The song runs sideways, so the wheel scrolls it that way.
    QScrollBar* bar = horizontalScrollBar();
    bar->setValue(bar->value() - notches * bar->singleStep() * 3);
    event->accept();
}

void SongView::keyPressEvent(QKeyEvent* event)
{
    const QPoint pointer = viewport()->mapFromGlobal(QCursor::pos());
    const int zoomX = viewport()->rect().contains(pointer) ? pointer.x() : viewport()->width() / 2;
    const std::int64_t step = event->modifiers() & Qt::ShiftModifier ? kShiftKeyStepMs : kKeyStepMs;
    switch (event->key()) {
    case Qt::Key_Left:
        requestPosition(m_position - static_cast<double>(step));
        break;
    case Qt::Key_Right:
        requestPosition(m_position + static_cast<double>(step));
        break;
    case Qt::Key_BracketLeft:
        if (isSourceShown() && m_position <= m_endMark) {
            setStartMark(m_position);
            emit startMarkDragged(static_cast<qint64>(std::llround(m_position)));
        }
        break;
    case Qt::Key_BracketRight:
        if (isSourceShown() && m_position >= m_startMark) {
            setEndMark(m_position);
            emit endMarkDragged(static_cast<qint64>(std::llround(m_position)));
        }
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoomAround(kZoomStep, zoomX);
        break;
    case Qt::Key_Minus:
        zoomAround(1 / kZoomStep, zoomX);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

QString SongView::keyName(int key)
{
    static const char* const kNames[smf::kSemitonesPerOctave] = {"C",  "C#", "D",  "D#", "E",  "F",
                                                                 "F#", "G",  "G#", "A",  "A#", "B"};
    const int octave = key / smf::kSemitonesPerOctave - 1;
    return QString::fromLatin1(kNames[key % smf::kSemitonesPerOctave]) + QString::number(octave);
}

QString SongView::noteDescriptionAt(const QPoint& point) const
{
    const SongModel& song = shownSong();
    if (song.empty())
        return {};
    const Layout where = layout();
    const double fromMs = millisecondsAt(point.x() - kDrumTickWidth) - m_msPerPixel;
    const double toMs = millisecondsAt(point.x() + 1) + m_msPerPixel;
    // The channel drawn last is the one on top.
    for (int channel = smf::kChannelCount - 1; channel >= 0; --channel) {
        const std::span<const SongNote> notes = song.notesAround(channel, fromMs, toMs);
        for (auto note = notes.rbegin(); note != notes.rend(); ++note) {
            const ChannelChange& change = changeOf(channel);
            if (!noteRect(*note, change.octave, where).contains(point))
                continue;
            const int program =
                change.patch != smf::kNoProgram ? change.patch : std::max<int>(note->program, 0);
            const std::string_view name = generalMidiInstrumentName(program);
            const QString instrument =
                channel == kPercussionChannel
                    ? tr("Percussion")
                    : QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
            const int key = shiftKey(note->key, change.octave);
            return tr("Channel %1: %2\n%3 (key %4)\n%5 to %6")
                .arg(channel + 1)
                .arg(instrument, keyName(key))
                .arg(key)
                .arg(secondsText(note->startMs), secondsText(note->endMs));
        }
    }
    return {};
}

QSize SongView::minimumSizeHint() const
{
    return {200, 120};
}

QSize SongView::sizeHint() const
{
    return {640, 180};
}

} // namespace chwr
