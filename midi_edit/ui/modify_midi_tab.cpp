#include "midi_edit/ui/modify_midi_tab.h"

#include "midi_edit/crop_rules.h"
#include "midi_edit/midi_open.h"
#include "midi_edit/ui/channel_table_model.h"
#include "midi_edit/ui/mm_control.h"
#include "midi_edit/ui/progress_dialog.h"
#include "ringtone_db/ui/load_midi_tab.h"
#include "shell/file_helpers.h"
#include "shell/file_io.h"
#include "shell/program_folder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace chwr {
namespace fs = std::filesystem;

namespace {

constexpr const char* kSequencerDevice = "Sequencer";
constexpr const char* kMidiFileFilter = "MIDI File (*.mid)|*.mid";
constexpr const char* kMidiExtension = ".mid";
constexpr int kMillisecondsTimeFormat = 0;
// The slider shows the position as a percentage of the song.
constexpr int kSliderMaximum = 100;
// The mark fields take whole numbers of milliseconds, a minus sign allowed so that the
// check of "Apply" can say what is wrong with a negative start.
constexpr const char* kMarkPattern = "-?[0-9]{0,9}";

QString qtPath(const fs::path& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

fs::path fsPath(const QString& path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

QString qtText(const std::string& utf8)
{
    return QString::fromStdString(utf8);
}

// numerator ÷ denominator for non-negative numbers, rounded to the nearest whole
// number with halves to the even neighbour.
std::int64_t divideRoundingHalfToEven(std::int64_t numerator, std::int64_t denominator)
{
    const std::int64_t quotient = numerator / denominator;
    const std::int64_t twiceRemainder = (numerator % denominator) * 2;
    if (twiceRemainder > denominator || (twiceRemainder == denominator && quotient % 2 != 0))
        return quotient + 1;
    return quotient;
}

// Lets the window repaint and take clicks (Cancel among them) during a long action: at
// the first call, then at most once per interval however often it is called.
class Breather {
public:
    void operator()()
    {
        if (m_clock.isValid() && m_clock.elapsed() < ModifyMidiTab::kBreathIntervalMs)
            return;
        QCoreApplication::processEvents();
        m_clock.start();
    }

private:
    QElapsedTimer m_clock;
};

QLineEdit* makeNumberField(QWidget* parent, const char* name, bool editable)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setReadOnly(!editable);
    field->setMaximumWidth(field->fontMetrics().horizontalAdvance("0000000000") + 12);
    return field;
}

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption, bool enabled)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setEnabled(enabled);
    return button;
}

} // namespace

ModifyMidiTab::ModifyMidiTab(WindowServices& services, MidiEditState& state, QWidget* parent)
    : QWidget(parent), m_services(services), m_state(state)
{
    setObjectName("ModifyMidiTab");
    m_model = new ChannelTableModel(m_state, this);
    buildControls();

    // Before the first open the rows show what the table holds.
    if (Result<ChannelTable> opened = ChannelTable::open(); opened) {
        m_table.emplace(std::move(*opened));
        m_model->setTable(&*m_table);
        (void)m_model->reload();
    }

    connect(Command5, &QPushButton::clicked, this, &ModifyMidiTab::Command5_Click);
    connect(Command8, &QPushButton::clicked, this, &ModifyMidiTab::Command8_Click);
    connect(Command9, &QPushButton::clicked, this, &ModifyMidiTab::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &ModifyMidiTab::Command10_Click);
    connect(Command11, &QPushButton::clicked, this, &ModifyMidiTab::Command11_Click);
    connect(Command15, &QPushButton::clicked, this, &ModifyMidiTab::Command15_Click);
    connect(Command16, &QPushButton::clicked, this, &ModifyMidiTab::Command16_Click);
    connect(Command17, &QPushButton::clicked, this, &ModifyMidiTab::Command17_Click);
    // Only the user's drag moves the player; arrow and track clicks change the value alone.
    connect(HScroll1, &QScrollBar::sliderMoved, this, &ModifyMidiTab::HScroll1_Scroll);
    connect(MMControl1, &MMControl::StatusUpdate, this, &ModifyMidiTab::MMControl1_StatusUpdate);
    connect(MMControl3, &MMControl::StatusUpdate, this, &ModifyMidiTab::MMControl3_StatusUpdate);
    connect(progressDialog, &Dialog::cancelRequested, this, [this] { m_rewriter.requestCancel(); });
    connect(m_model, &ChannelTableModel::commitFailed, this,
            [this](const QString& message) { showError(message.toStdString()); });
}

ModifyMidiTab::~ModifyMidiTab() = default;

void ModifyMidiTab::buildControls()
{
    fraProperties = new QGroupBox(" Properties ", this);
    fraProperties->setObjectName("fraProperties");
    lblMIDIName = new QLabel("File:", fraProperties);
    lblMIDIName->setObjectName("lblMIDIName");
    lblMIDISize = new QLabel("Size:", fraProperties);
    lblMIDISize->setObjectName("lblMIDISize");
    lblMIDITracks = new QLabel("Tracks:", fraProperties);
    lblMIDITracks->setObjectName("lblMIDITracks");
    auto* properties = new QVBoxLayout(fraProperties);
    properties->addWidget(lblMIDIName);
    properties->addWidget(lblMIDISize);
    properties->addWidget(lblMIDITracks);
    Command5 = makeButton(this, "Command5", "Open File", true);

    DataRepeater1 = new DataRepeater(this);
    DataRepeater1->setModel(m_model);

    fraCrop = new QGroupBox(" Crop MIDI File ", this);
    fraCrop->setObjectName("fraCrop");
    txtMarkStartMSec = makeNumberField(fraCrop, "txtMarkStartMSec", true);
    txtMarkEndMSec = makeNumberField(fraCrop, "txtMarkEndMSec", true);
    auto* markPattern = new QRegularExpressionValidator(QRegularExpression(kMarkPattern), this);
    txtMarkStartMSec->setValidator(markPattern);
    txtMarkEndMSec->setValidator(markPattern);
    txtCurrentMSec = makeNumberField(fraCrop, "txtCurrentMSec", false);
    txtCurrentTicks = makeNumberField(fraCrop, "txtCurrentTicks", false);
    txtCurrentTicks->setText("0");
    txtMaxMSec = makeNumberField(fraCrop, "txtMaxMSec", false);
    txtMaxTicks = makeNumberField(fraCrop, "txtMaxTicks", false);
    txtMaxTicks->setText("0");
    Label3 = new QLabel("Milliseconds", fraCrop);
    Label3->setObjectName("Label3");
    Command9 = makeButton(fraCrop, "Command9", "Mark Start", false);
    Command10 = makeButton(fraCrop, "Command10", "Mark End", false);
    Command15 = makeButton(fraCrop, "Command15", "Goto Start", false);
    Command16 = makeButton(fraCrop, "Command16", "Goto End", false);
    HScroll1 = new QScrollBar(Qt::Horizontal, fraCrop);
    HScroll1->setObjectName("HScroll1");
    HScroll1->setRange(0, kSliderMaximum);
    MMControl1 = new MMControl(m_services.makePlayer(), fraCrop);
    MMControl1->setObjectName("MMControl1");

    auto* crop = new QGridLayout(fraCrop);
    crop->addWidget(Label3, 0, 1);
    crop->addWidget(new QLabel("Ticks", fraCrop), 0, 2);
    crop->addWidget(new QLabel("Start mark", fraCrop), 1, 0);
    crop->addWidget(txtMarkStartMSec, 1, 1);
    crop->addWidget(Command9, 1, 3);
    crop->addWidget(Command15, 1, 4);
    crop->addWidget(new QLabel("End mark", fraCrop), 2, 0);
    crop->addWidget(txtMarkEndMSec, 2, 1);
    crop->addWidget(Command10, 2, 3);
    crop->addWidget(Command16, 2, 4);
    crop->addWidget(new QLabel("Position", fraCrop), 3, 0);
    crop->addWidget(txtCurrentMSec, 3, 1);
    crop->addWidget(txtCurrentTicks, 3, 2);
    crop->addWidget(new QLabel("Length", fraCrop), 4, 0);
    crop->addWidget(txtMaxMSec, 4, 1);
    crop->addWidget(txtMaxTicks, 4, 2);
    crop->addWidget(HScroll1, 5, 0, 1, 5);
    crop->addWidget(new QLabel("Preview", fraCrop), 6, 0);
    crop->addWidget(MMControl1, 6, 1, 1, 4);

    Command11 = makeButton(this, "Command11", "Apply", false);
    MMControl3 = new MMControl(m_services.makePlayer(), this);
    MMControl3->setObjectName("MMControl3");
    Command8 = makeButton(this, "Command8", "Save MIDI File", false);
    Command17 = makeButton(this, "Command17", "Load MIDI File", false);

    progressDialog = new Dialog(this);

    auto* top = new QHBoxLayout;
    top->addWidget(fraProperties, 1);
    top->addWidget(Command5, 0, Qt::AlignTop);
    auto* result = new QHBoxLayout;
    result->addWidget(Command11);
    result->addWidget(new QLabel("Result", this));
    result->addWidget(MMControl3);
    result->addStretch();
    result->addWidget(Command8);
    result->addWidget(Command17);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(DataRepeater1, 1);
    layout->addWidget(fraCrop);
    layout->addLayout(result);
}

ChannelTable* ModifyMidiTab::table()
{
    if (!m_table) {
        Result<ChannelTable> opened = ChannelTable::open();
        if (!opened) {
            showError(opened.error());
            return nullptr;
        }
        m_table.emplace(std::move(*opened));
        m_model->setTable(&*m_table);
    }
    return &*m_table;
}

void ModifyMidiTab::showRows()
{
    if (Result<void> reloaded = m_model->reload(); !reloaded)
        showError(reloaded.error());
    DataRepeater1->show();
}

void ModifyMidiTab::setBusy(bool busy)
{
    m_busy = busy;
    Command5->setEnabled(!busy);
    Command11->setEnabled(!busy && m_opened);
    Command8->setEnabled(!busy && m_hasResult);
    Command17->setEnabled(!busy && m_hasResult);
}

void ModifyMidiTab::showError(const std::string& message, MessageIcon icon)
{
    m_services.messages->show(this, qtText(message), icon);
}

void ModifyMidiTab::Command5_Click()
{
    if (m_busy)
        return;
    fs::path path;
    std::string displayName;
    if (Command5Tag == kModifyExportTag) {
        Command5Tag.clear();
        path = programFolder() / kModifyExportFileName;
        displayName = NameStem(m_state.PendingImportName);
    } else {
        const FileDialogRequest request{"Open MIDI File", kMidiFileFilter,
                                        qtPath(programFolder() / kMidiFolderName) + "/", QString()};
        const std::optional<QString> chosen = m_services.dialogs->open(this, request);
        if (!chosen || chosen->isEmpty())
            return;
        path = fsPath(*chosen);
        displayName = NameStem(path.filename().string());
    }
    ChannelTable* channels = table();
    if (!channels)
        return;

    // A file the reader refuses changes nothing: not the player, not the rows.
    Breather breathe;
    const WalkBreath breath = [&breathe] { breathe(); };
    setBusy(true);
    if (Result<MidiFileSummary> checked = readMidiFile(path, breath); !checked) {
        setBusy(false);
        restorePreview();
        showError(checked.error());
        return;
    }

    DataRepeater1->hide();
    MMControl1->setDeviceType(kSequencerDevice);
    (void)MMControl1->command("Close");
    MMControl1->setFileName(path);
    Result<void> playing = MMControl1->command("Open");
    MMControl1->setUpdateInterval(kPreviewUpdateIntervalMs);
    MMControl1->setTimeFormat(kMillisecondsTimeFormat);
    const std::int64_t length = playing ? MMControl1->length() : 0;
    std::string failure;
    std::optional<MidiFileSummary> summary;
    if (!playing) {
        failure = playing.error();
    } else if (length <= 0) {
        failure = "The MIDI file \"" + path.filename().string() + "\" has nothing to play.";
    } else if (Result<MidiFileSummary> opened = openMidiForEditing(path, *channels, m_state, breath);
               !opened) {
        failure = opened.error();
    } else {
        summary = std::move(*opened);
    }
    if (!summary) {
        (void)MMControl1->command("Close");
        setBusy(false);
        restorePreview();
        showRows();
        showError(failure);
        return;
    }

    m_state.MidiDisplayName = displayName;
    m_summary = *summary;
    m_opened = true;

    HScroll1->setRange(0, kSliderMaximum);
    HScroll1->setValue(0);
    txtMarkStartMSec->setText("0");
    txtMarkEndMSec->setText(QString::number(length));
    txtCurrentMSec->setText("0");
    txtMaxMSec->setText(QString::number(length));
    txtMaxTicks->setText(QString::number(summary->lengthTicks));
    lblMIDIName->setText("File: " + qtText(displayName));
    lblMIDISize->setText("Size: " + QString::number(summary->fileSize));
    lblMIDITracks->setText("Tracks: " + QString::number(summary->trackCount));

    for (QPushButton* button : {Command9, Command10, Command15, Command16})
        button->setEnabled(true);
    setBusy(false);
    showRows();
    MMControl1->setEnabled(true);
}

void ModifyMidiTab::restorePreview()
{
    // After a failed open the tab stays on the file it had, and so does its player
    // (which the list's hand-off may have closed).
    if (!m_opened || (MMControl1->player().isOpen() && MMControl1->fileName() == m_state.MidiSourcePath))
        return;
    (void)MMControl1->command("Close");
    MMControl1->setFileName(m_state.MidiSourcePath);
    (void)MMControl1->command("Open");
}

std::optional<double> ModifyMidiTab::markValue(QLineEdit* field)
{
    Result<double> value = markFromText(field->text().toStdString());
    if (!value) {
        showError(value.error(), MessageIcon::Exclamation);
        return std::nullopt;
    }
    return *value;
}

void ModifyMidiTab::Command11_Click()
{
    if (m_busy || m_rewriter.isRunning() || !m_summary)
        return;
    if (Result<void> committed = m_model->commitPending(); !committed) {
        showError(committed.error());
        return;
    }
    // A refused mark changes nothing: the result and its player stay as they were.
    const std::optional<double> start = markValue(txtMarkStartMSec);
    if (!start)
        return;
    if (*start < 0) {
        showError(kStartMarkBelowZeroMessage, MessageIcon::Exclamation);
        return;
    }
    const std::optional<double> end = markValue(txtMarkEndMSec);
    if (!end)
        return;
    Marks marks{*start, *end};
    if (Result<void> checked = CheckMarks(marks, MMControl1->length()); !checked) {
        showError(checked.error(), MessageIcon::Exclamation);
        return;
    }
    // The engine times the marks by the song's own tempo map; an end mark at or past the
    // song's end cuts nothing, whatever the player counted.
    const auto songLength = static_cast<double>(m_summary->lengthMilliseconds);
    marks.endMs = std::min(marks.endMs, songLength);
    marks.startMs = std::min(marks.startMs, marks.endMs);
    ChannelTable* channels = table();
    if (!channels)
        return;

    (void)MMControl3->command("Close");
    MMControl3->setEnabled(false);
    setBusy(true);
    emit rewriteRunning(true);
    progressDialog->Label1->setText("Applying changes to MIDI File...");
    progressDialog->ProgressBar1->setValue(0);
    progressDialog->show();

    Breather breathe;
    m_rewriter.setProgressHandler([this, &breathe](const RewriteProgress& progress) {
        progressDialog->showProgress(progress.trackNumber, progress.percent());
        breathe();
    });
    Result<RewriteResult> result = m_rewriter.apply(m_state, *channels, marks);
    m_rewriter.setProgressHandler({});

    progressDialog->hide();
    // Until a run finishes there is no whole result to save or hand over: head was
    // emptied when the run started.
    m_hasResult = result && result->outcome == RewriteOutcome::Finished;
    setBusy(false);
    emit rewriteRunning(false);
    // Edits made while the run went on were held back; they go in now.
    if (Result<void> committed = m_model->commitPending(); !committed)
        showError(committed.error());
    showRows();
    if (!result) {
        const std::string& message = result.error();
        const bool markMessage = message == kStartMarkBelowZeroMessage ||
                                 message == kStartMarkPastEndMessage || message == kEndMarkPastSongMessage;
        showError(message, markMessage ? MessageIcon::Exclamation : MessageIcon::None);
        return;
    }
    if (result->outcome == RewriteOutcome::Cancelled)
        return;
    for (const std::string& notice : result->notices)
        showError(notice);
    if (result->maxTicks > txtMaxTicks->text().toLongLong())
        txtMaxTicks->setText(QString::number(result->maxTicks));

    MMControl3->setEnabled(true);
    MMControl3->setDeviceType(kSequencerDevice);
    MMControl3->setFileName(m_state.ResultFilePath);
    if (Result<void> opened = MMControl3->command("Open"); !opened) {
        showError(opened.error());
        return;
    }
    (void)MMControl3->command("Play");
}

void ModifyMidiTab::Command8_Click()
{
    if (m_state.ResultFilePath.empty())
        return;
    const fs::path folder = programFolder() / kMidiFolderName;
    const std::string proposed =
        UniqueFileName(folder, SafeFileName(m_state.MidiDisplayName) + kMidiExtension);
    const FileDialogRequest request{"Save MIDI File", kMidiFileFilter, QString(), qtPath(folder / proposed)};
    const std::optional<QString> chosen = m_services.dialogs->save(this, request);
    if (!chosen || chosen->isEmpty())
        return;
    const fs::path target = fsPath(*chosen);
    if (const fs::path database = m_databaseToKeep ? m_databaseToKeep() : fs::path(); !database.empty()) {
        if (Result<void> kept = checkNotWritingOver(target, database, "the ring tone database"); !kept) {
            showError(kept.error());
            return;
        }
    }
    if (Result<void> copied = copyFileAtomic(m_state.ResultFilePath, target); !copied)
        showError(copied.error());
}

void ModifyMidiTab::Command17_Click()
{
    if (m_state.ResultFilePath.empty())
        return;
    emit loadMidiFileRequested();
    (void)MMControl3->command("stop");
}

void ModifyMidiTab::Command9_Click()
{
    txtMarkStartMSec->setText(QString::number(MMControl1->position()));
}

void ModifyMidiTab::Command10_Click()
{
    txtMarkEndMSec->setText(QString::number(MMControl1->position()));
}

void ModifyMidiTab::Command15_Click()
{
    gotoMark(txtMarkStartMSec);
}

void ModifyMidiTab::Command16_Click()
{
    gotoMark(txtMarkEndMSec);
}

void ModifyMidiTab::gotoMark(QLineEdit* field)
{
    (void)MMControl1->command("Stop");
    const std::optional<double> mark = markValue(field);
    if (!mark)
        return;
    // A mark outside the song stops the player at the nearer end of it.
    const auto position =
        std::clamp(static_cast<std::int64_t>(std::nearbyint(*mark)), std::int64_t{0}, MMControl1->length());
    MMControl1->setFrom(position);
    (void)MMControl1->command("Play");
    (void)MMControl1->command("Stop");
}

void ModifyMidiTab::HScroll1_Scroll()
{
    (void)MMControl1->command("Stop");
    MMControl1->setFrom(sliderTarget(MMControl1->length(), HScroll1->sliderPosition()));
    (void)MMControl1->command("Play");
    (void)MMControl1->command("Stop");
}

void ModifyMidiTab::MMControl1_StatusUpdate()
{
    const std::int64_t position = MMControl1->position();
    txtCurrentMSec->setText(QString::number(position));
    bool isNumber = false;
    const double maxMilliseconds = txtMaxMSec->text().toDouble(&isNumber);
    if (isNumber && maxMilliseconds > 0)
        txtCurrentTicks->setText(ticksText(position, txtMaxTicks->text().toDouble(), maxMilliseconds));
    const std::int64_t length = MMControl1->length();
    // The report never pulls the thumb out of the user's hand.
    if (length > 0 && !HScroll1->isSliderDown())
        HScroll1->setValue(sliderPercent(position, length));
}

void ModifyMidiTab::MMControl3_StatusUpdate()
{
    // A finished result rewinds to its start.
    if (MMControl3->player().isOpen() && MMControl3->position() >= MMControl3->length())
        (void)MMControl3->command("Prev");
}

QString ModifyMidiTab::ticksText(std::int64_t position, double maxTicks, double maxMilliseconds)
{
    const double ticks = std::round(static_cast<double>(position) * maxTicks / maxMilliseconds);
    if (ticks == 0)
        return QString();
    return QString::number(static_cast<qint64>(ticks));
}

int ModifyMidiTab::sliderPercent(std::int64_t position, std::int64_t length)
{
    if (length <= 0)
        return 0;
    return static_cast<int>(
        divideRoundingHalfToEven(std::max<std::int64_t>(position, 0) * kSliderMaximum, length));
}

std::int64_t ModifyMidiTab::sliderTarget(std::int64_t length, int value)
{
    if (length <= 0 || value <= 0)
        return 0;
    return divideRoundingHalfToEven(length * value, kSliderMaximum);
}

} // namespace chwr
