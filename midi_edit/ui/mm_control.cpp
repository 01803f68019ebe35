#include "midi_edit/ui/mm_control.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

namespace chwr {

MMControl::MMControl(std::unique_ptr<MidiPlayer> player, QWidget* parent)
    : QWidget(parent), m_player(std::move(player)), m_timer(new QTimer(this))
{
    if (m_player->updateInterval() <= 0)
        m_player->setUpdateInterval(kDefaultUpdateIntervalMs);
    m_player->setStatusUpdateHandler([this] { emit StatusUpdate(); });

    PrevButton = new QPushButton(style()->standardIcon(QStyle::SP_MediaSkipBackward), QString(), this);
    PrevButton->setObjectName("PrevButton");
    PrevButton->setToolTip(tr("Back to the start"));
    PlayButton = new QPushButton(style()->standardIcon(QStyle::SP_MediaPlay), QString(), this);
    PlayButton->setObjectName("PlayButton");
    PlayButton->setToolTip(tr("Play"));
    StopButton = new QPushButton(style()->standardIcon(QStyle::SP_MediaStop), QString(), this);
    StopButton->setObjectName("StopButton");
    StopButton->setToolTip(tr("Stop"));
    positionLabel = new QLabel(formatReadout(0, 0), this);
    positionLabel->setObjectName("positionLabel");
    positionLabel->setMinimumWidth(positionLabel->fontMetrics().horizontalAdvance("00:00.0 / 00:00.0 "));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(PrevButton);
    layout->addWidget(PlayButton);
    layout->addWidget(StopButton);
    layout->addWidget(positionLabel);
    layout->addStretch();

    connect(PrevButton, &QPushButton::clicked, this, [this] { runButtonCommand("Prev"); });
    connect(PlayButton, &QPushButton::clicked, this, [this] { runButtonCommand("Play"); });
    connect(StopButton, &QPushButton::clicked, this, [this] { runButtonCommand("Stop"); });
    connect(m_timer, &QTimer::timeout, this, &MMControl::tick);
    refresh();
}

MMControl::~MMControl()
{
    // The player outlives no handler that points back at this widget.
    m_player->setStatusUpdateHandler({});
}

void MMControl::setDeviceType(const QString& type)
{
    m_player->setDeviceType(type.toStdString());
}

void MMControl::setFileName(const std::filesystem::path& file)
{
    m_player->setFileName(file);
}

std::filesystem::path MMControl::fileName() const
{
    return m_player->fileName();
}

Result<void> MMControl::command(const QString& name)
{
    Result<void> result = m_player->command(name.toStdString());
    syncTimer();
    refresh();
    return result;
}

void MMControl::setFrom(std::int64_t milliseconds)
{
    m_player->setFrom(milliseconds);
    refresh();
}

std::int64_t MMControl::length() const
{
    return m_player->length();
}

std::int64_t MMControl::position() const
{
    return m_player->position();
}

void MMControl::setTimeFormat(int format)
{
    m_player->setTimeFormat(format);
}

void MMControl::setUpdateInterval(int milliseconds)
{
    m_player->setUpdateInterval(milliseconds);
    syncTimer();
}

int MMControl::updateInterval() const
{
    return m_player->updateInterval();
}

QString MMControl::formatReadout(std::int64_t position, std::int64_t length)
{
    auto format = [](std::int64_t ms) {
        if (ms < 0)
            ms = 0;
        const std::int64_t tenths = ms / 100;
        return QStringLiteral("%1:%2.%3")
            .arg(tenths / 600)
            .arg((tenths / 10) % 60, 2, 10, QLatin1Char('0'))
            .arg(tenths % 10);
    };
    return format(position) + QStringLiteral(" / ") + format(length);
}

void MMControl::tick()
{
    m_player->poll();
    refresh();
}

void MMControl::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) {
        m_player->setEnabled(isEnabled());
        refresh();
    }
    QWidget::changeEvent(event);
}

void MMControl::runButtonCommand(const char* name)
{
    // The transport buttons report nothing, as the multimedia control's own buttons do.
    (void)command(QString::fromLatin1(name));
}

void MMControl::refresh()
{
    const bool open = m_player->isOpen();
    PrevButton->setEnabled(open);
    PlayButton->setEnabled(open && !m_player->isPlaying());
    StopButton->setEnabled(open && m_player->isPlaying());
    positionLabel->setText(formatReadout(m_player->position(), m_player->length()));
}

void MMControl::syncTimer()
{
    const int interval = m_player->updateInterval();
    if (m_player->isOpen() && interval > 0) {
        if (!m_timer->isActive() || m_timer->interval() != interval)
            m_timer->start(interval);
    } else {
        m_timer->stop();
    }
}

}  // namespace chwr
