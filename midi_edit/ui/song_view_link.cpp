#include "midi_edit/ui/song_view_link.h"

#include "midi_edit/song_model.h"
#include "midi_edit/ui/channel_table_model.h"
#include "midi_edit/ui/mm_control.h"
#include "midi_edit/ui/song_view.h"

#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

namespace chwr {

namespace {

// A mark field's text as a number; text that is none leaves the line where it is (the
// check of "Apply" says what is wrong with it).
void followField(QLineEdit* field, SongView* view, void (SongView::*setMark)(double))
{
    QObject::connect(field, &QLineEdit::textChanged, view, [view, setMark](const QString& text) {
        bool isNumber = false;
        const qint64 milliseconds = text.toLongLong(&isNumber);
        if (isNumber)
            (view->*setMark)(static_cast<double>(milliseconds));
    });
}

} // namespace

SongViewLink::SongViewLink(const Parts& parts, const MidiEditState& state, QObject* parent)
    : QObject(parent), m_parts(parts), m_state(state)
{
    SongView* view = m_parts.view;
    followField(m_parts.startMark, view, &SongView::setStartMark);
    followField(m_parts.endMark, view, &SongView::setEndMark);
    connect(view, &SongView::startMarkDragged, m_parts.startMark,
            [this](qint64 milliseconds) { m_parts.startMark->setText(QString::number(milliseconds)); });
    connect(view, &SongView::endMarkDragged, m_parts.endMark,
            [this](qint64 milliseconds) { m_parts.endMark->setText(QString::number(milliseconds)); });
    connect(view, &SongView::positionRequested, this, &SongViewLink::gotoPosition);
    const auto showPosition = [this] {
        m_parts.view->setPosition(static_cast<double>(m_parts.preview->position()));
    };
    connect(m_parts.preview, &MMControl::StatusUpdate, view, showPosition);
    // These move the player without a status update; the line follows once the tab's own
    // handlers have run.
    for (QPushButton* button : {m_parts.gotoStart, m_parts.gotoEnd})
        if (button)
            connect(button, &QPushButton::clicked, view, showPosition, Qt::QueuedConnection);
    if (m_parts.slider)
        connect(m_parts.slider, &QScrollBar::sliderMoved, view, showPosition, Qt::QueuedConnection);
    connect(m_parts.result, &MMControl::StatusUpdate, view,
            [this] { m_parts.view->setResultPosition(static_cast<double>(m_parts.result->position())); });
    connect(m_parts.rows, &QAbstractItemModel::modelReset, this, &SongViewLink::showAdjustments);
    connect(m_parts.rows, &QAbstractItemModel::dataChanged, this, &SongViewLink::showAdjustments);
}

void SongViewLink::sourceOpened(const std::filesystem::path& file)
{
    Result<SongModel> song = SongModel::build(file);
    m_parts.view->setSource(song ? std::move(*song) : SongModel());
    for (auto [field, setMark] : {std::pair{m_parts.startMark, &SongView::setStartMark},
                                  std::pair{m_parts.endMark, &SongView::setEndMark}}) {
        bool isNumber = false;
        const qint64 milliseconds = field->text().toLongLong(&isNumber);
        if (isNumber)
            (m_parts.view->*setMark)(static_cast<double>(milliseconds));
    }
    showAdjustments();
}

void SongViewLink::resultWritten(const std::filesystem::path& file)
{
    Result<SongModel> song = file.empty() ? Result<SongModel>(Error{}) : SongModel::build(file);
    if (song)
        m_parts.view->setResult(std::move(*song));
    else
        m_parts.view->clearResult();
}

void SongViewLink::showAdjustments()
{
    m_parts.view->setAdjustments(adjustmentsFromRows(m_parts.rows->rows(), m_state.OpenPrograms));
}

void SongViewLink::gotoPosition(qint64 milliseconds)
{
    // The moves of "Goto Start": stopped, then the player at the new place.
    MMControl* preview = m_parts.preview;
    (void)preview->command("Stop");
    preview->setFrom(milliseconds);
    (void)preview->command("Play");
    (void)preview->command("Stop");
    m_parts.view->setPosition(static_cast<double>(preview->position()));
}

} // namespace chwr
