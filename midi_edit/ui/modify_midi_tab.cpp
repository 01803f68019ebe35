#include "midi_edit/ui/modify_midi_tab.h"

#include "midi_edit/crop_rules.h"
#include "midi_edit/fit_end_mark.h"
#include "midi_edit/midi_compact.h"
#include "midi_edit/midi_open.h"
#include "midi_edit/ui/channel_table_model.h"
#include "midi_edit/ui/mm_control.h"
#include "midi_edit/ui/progress_dialog.h"
#include "midi_edit/ui/song_view.h"
#include "midi_edit/ui/song_view_link.h"
#include "ringtone_db/standard_midi_file.h"
#include "ringtone_db/ui/load_midi_tab.h"
#include "shell/file_helpers.h"
#include "shell/file_io.h"
#include "shell/program_folder.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>

namespace chwr {
namespace fs = std::filesystem;

namespace {

constexpr const char* kSequencerDevice = "Sequencer";
constexpr const char* kMidiFileFilter = "MIDI File (*.mid)|*.mid";
constexpr const char* kMidiExtension = ".mid";
// The extensions a dropped file may have to be opened.
constexpr std::array<const char*, 3> kDroppedMidiSuffixes = {"mid", "midi", "rmi"};
// The song of a RIFF MIDI file, taken out of it into the program's folder: the tab edits,
// plays and rewrites bare Standard MIDI Files. Two names, used in turn, so that a refused
// open never replaces the song that stays open.
constexpr std::array<const char*, 2> kRiffSongFileNames = {"ModifyRiff.mid", "ModifyRiff2.mid"};
// How the file layer's temporary files begin (".chwr-" and six characters).
constexpr const char* kTemporaryFilePrefix = ".chwr-";
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
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

// A label whose text changes: its width never pushes the controls beside it.
QLabel* makeChangingLabel(QWidget* parent, const char* name, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance("Tracks: 00000"));
    return label;
}

// The one local MIDI file of a drag, or nothing.
std::optional<fs::path> droppedMidiFile(const QMimeData* data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1 || !data->urls().front().isLocalFile())
        return std::nullopt;
    const QString file = data->urls().front().toLocalFile();
    const QString suffix = QFileInfo(file).suffix();
    for (const char* allowed : kDroppedMidiSuffixes)
        if (suffix.compare(QLatin1String(allowed), Qt::CaseInsensitive) == 0)
            return fsPath(file);
    return std::nullopt;
}

// Every focusable widget under a layout in the order it is laid out: rows before
// columns in a grid, and into group boxes, scroll areas and composite controls.
void collectInLayoutOrder(QLayout* layout, std::vector<QWidget*>& out);

void collectWidget(QWidget* widget, std::vector<QWidget*>& out)
{
    if (!widget)
        return;
    if (widget->focusPolicy() & Qt::TabFocus)
        out.push_back(widget);
    if (auto* area = qobject_cast<QScrollArea*>(widget); area && area->widget()) {
        collectWidget(area->widget(), out);
    } else if (widget->layout()) {
        collectInLayoutOrder(widget->layout(), out);
    } else if (qobject_cast<QAbstractScrollArea*>(widget)) {
        // A view with controls beside its scroll bars: they follow the view.
        for (QWidget* child : widget->findChildren<QWidget*>())
            if (child->focusPolicy() & Qt::TabFocus)
                out.push_back(child);
    }
}

void collectInLayoutOrder(QLayout* layout, std::vector<QWidget*>& out)
{
    std::vector<std::pair<std::pair<int, int>, QLayoutItem*>> items;
    auto* grid = qobject_cast<QGridLayout*>(layout);
    for (int i = 0; i < layout->count(); ++i) {
        int row = i, column = 0, rowSpan = 0, columnSpan = 0;
        if (grid)
            grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
        items.push_back({{row, column}, layout->itemAt(i)});
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [position, item] : items) {
        if (item->layout())
            collectInLayoutOrder(item->layout(), out);
        else
            collectWidget(item->widget(), out);
    }
}

} // namespace

ModifyMidiTab::ModifyMidiTab(WindowServices& services, MidiEditState& state, QWidget* parent)
    : QWidget(parent), m_services(services), m_state(state)
{
    setObjectName("ModifyMidiTab");
    m_model = new ChannelTableModel(m_state, this);
    buildControls();
    m_songLink = new SongViewLink(
        {songView, txtMarkStartMSec, txtMarkEndMSec, MMControl1, MMControl3, m_model, Command15, Command16, HScroll1},
        m_state, this);
    // Until a file is open the rows stand empty and disabled: the table's rows belong to
    // the file they were made for.
    setAcceptDrops(true);

    connect(Command5, &QPushButton::clicked, this, &ModifyMidiTab::Command5_Click);
    connect(Command8, &QPushButton::clicked, this, &ModifyMidiTab::Command8_Click);
    connect(Command9, &QPushButton::clicked, this, &ModifyMidiTab::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &ModifyMidiTab::Command10_Click);
    connect(Command11, &QPushButton::clicked, this, &ModifyMidiTab::Command11_Click);
    connect(Command15, &QPushButton::clicked, this, &ModifyMidiTab::Command15_Click);
    connect(Command16, &QPushButton::clicked, this, &ModifyMidiTab::Command16_Click);
    connect(Command17, &QPushButton::clicked, this, &ModifyMidiTab::Command17_Click);
    connect(cmdFitEnd, &QPushButton::clicked, this, &ModifyMidiTab::cmdFitEnd_Click);
    connect(DataRepeater1, &DataRepeater::rebuilt, this, &ModifyMidiTab::updateTabOrder);
    updateTabOrder();
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
    lblMIDIName = makeChangingLabel(fraProperties, "lblMIDIName", "File:");
    lblMIDISize = makeChangingLabel(fraProperties, "lblMIDISize", "Size:");
    lblMIDITracks = makeChangingLabel(fraProperties, "lblMIDITracks", "Tracks:");
    auto* limit = new QLabel(
        QString("A ring tone holds at most %1 bytes")
            .arg(QLocale(QLocale::English).toString(static_cast<qulonglong>(kRingToneBudgetBytes))),
        fraProperties);
    limit->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lblSourceFit = makeChangingLabel(fraProperties, "lblSourceFit", "Song:");
    lblResultFit = makeChangingLabel(fraProperties, "lblResultFit", "Result:");
    auto* properties = new QGridLayout(fraProperties);
    properties->addWidget(lblMIDIName, 0, 0);
    properties->addWidget(lblMIDISize, 1, 0);
    properties->addWidget(lblMIDITracks, 2, 0);
    properties->addWidget(limit, 0, 1);
    properties->addWidget(lblSourceFit, 1, 1);
    properties->addWidget(lblResultFit, 2, 1);
    Command5 = makeButton(this, "Command5", "&Open File", true);

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
    // Access keys: the letters O, A, S, K, F, G, C, I and V are this tab's alone; the two
    // Goto buttons share G, which moves between them.
    Command9 = makeButton(fraCrop, "Command9", "Mark &Start", false);
    Command10 = makeButton(fraCrop, "Command10", "Mar&k End", false);
    cmdFitEnd = makeButton(fraCrop, "cmdFitEnd", "Fit E&nd", false);
    cmdFitEnd->setToolTip(QString("Sets the end mark to the latest one whose result fits in %1 bytes")
                              .arg(kRingToneBudgetBytes));
    Command15 = makeButton(fraCrop, "Command15", "&Goto Start", false);
    Command16 = makeButton(fraCrop, "Command16", "Goto &End", false);
    HScroll1 = new QScrollBar(Qt::Horizontal, fraCrop);
    HScroll1->setObjectName("HScroll1");
    HScroll1->setRange(0, kSliderMaximum);
    MMControl1 = new MMControl(m_services.makePlayer(), fraCrop);
    MMControl1->setObjectName("MMControl1");

    // Two lines of numbers and buttons, the player's position and the song's length at
    // the left of the marks, so that the channel rows keep the height.
    auto* crop = new QGridLayout(fraCrop);
    crop->addWidget(Label3, 0, 1);
    crop->addWidget(new QLabel("Ticks", fraCrop), 0, 2);
    crop->addWidget(new QLabel("Milliseconds", fraCrop), 0, 4);
    crop->addWidget(new QLabel("Position", fraCrop), 1, 0);
    crop->addWidget(txtCurrentMSec, 1, 1);
    crop->addWidget(txtCurrentTicks, 1, 2);
    crop->addWidget(new QLabel("Start mark", fraCrop), 1, 3);
    crop->addWidget(txtMarkStartMSec, 1, 4);
    crop->addWidget(Command9, 1, 5);
    crop->addWidget(Command15, 1, 6);
    crop->addWidget(new QLabel("Length", fraCrop), 2, 0);
    crop->addWidget(txtMaxMSec, 2, 1);
    crop->addWidget(txtMaxTicks, 2, 2);
    crop->addWidget(new QLabel("End mark", fraCrop), 2, 3);
    crop->addWidget(txtMarkEndMSec, 2, 4);
    crop->addWidget(Command10, 2, 5);
    crop->addWidget(Command16, 2, 6);
    crop->addWidget(cmdFitEnd, 2, 7);
    crop->addWidget(HScroll1, 3, 0, 1, 9);
    crop->addWidget(new QLabel("Preview", fraCrop), 4, 0);
    crop->addWidget(MMControl1, 4, 1, 1, 8, Qt::AlignLeft);
    // A wider frame widens the slider, not the buttons and fields.
    crop->setColumnStretch(8, 1);

    Command11 = makeButton(this, "Command11", "A&pply", false);
    chkCompact = new QCheckBox("&Compact (same sound)", this);
    chkCompact->setObjectName("chkCompact");
    chkCompact->setToolTip("Apply leaves out what makes no sound, so that the result takes fewer bytes");
    MMControl3 = new MMControl(m_services.makePlayer(), this);
    MMControl3->setObjectName("MMControl3");
    Command8 = makeButton(this, "Command8", "Sa&ve MIDI File", false);
    Command17 = makeButton(this, "Command17", "Load MIDI F&ile", false);

    progressDialog = new Dialog(this);

    auto* top = new QHBoxLayout;
    top->addWidget(fraProperties, 1);
    top->addWidget(Command5, 0, Qt::AlignTop);
    auto* result = new QHBoxLayout;
    result->addWidget(Command11);
    result->addWidget(chkCompact);
    result->addWidget(new QLabel("Result", this));
    result->addWidget(MMControl3);
    result->addStretch();
    result->addWidget(Command8);
    result->addWidget(Command17);
    songView = new SongView(this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(songView);
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
    if (m_opened) {
        if (Result<void> reloaded = m_model->reload(); !reloaded)
            showError(reloaded.error());
    }
    DataRepeater1->show();
}

void ModifyMidiTab::setBusy(bool busy)
{
    m_busy = busy;
    Command5->setEnabled(!busy);
    Command11->setEnabled(!busy && m_opened);
    Command8->setEnabled(!busy && m_hasResult);
    Command17->setEnabled(!busy && m_hasResult);
    cmdFitEnd->setEnabled(!busy && m_opened);
}

void ModifyMidiTab::showError(const std::string& message, MessageIcon icon)
{
    m_services.messages->show(this, shownMessage(message, m_sourceShownName), icon);
}

QString ModifyMidiTab::shownMessage(const std::string& message, const std::string& sourceName) const
{
    // Each quoted path is looked at: the program's working files go by what they hold.
    const fs::path folder = programFolder();
    const auto isWorking = [&](const fs::path& file, const char* name) { return file == folder / name; };
    std::string shown;
    std::size_t at = 0;
    while (at < message.size()) {
        const std::size_t open = message.find('"', at);
        const std::size_t close = open == std::string::npos ? open : message.find('"', open + 1);
        if (close == std::string::npos) {
            shown += message.substr(at);
            break;
        }
        const fs::path quoted = message.substr(open + 1, close - open - 1);
        std::string before = message.substr(at, open - at);
        std::string replacement = message.substr(open, close - open + 1);
        if (quoted.filename().string().starts_with(kTemporaryFilePrefix)) {
            replacement = "a new file in \"" + quoted.parent_path().string() + "\"";
        } else if (isWorking(quoted, MidiRewriter::kResultFileName)) {
            replacement = "the result";
        } else if (isWorking(quoted, kModifyExportFileName) || isWorking(quoted, kRiffSongFileNames[0]) ||
                   isWorking(quoted, kRiffSongFileNames[1])) {
            replacement = sourceName;
        } else if (quoted.parent_path() == folder && !quoted.filename().empty()) {
            // Another of the program's own files (the channel table): not named at all.
            replacement.clear();
            if (!before.empty() && before.back() == ' ')
                before.pop_back();
        }
        shown += before + replacement;
        at = close + 1;
    }
    return qtText(shown);
}

void ModifyMidiTab::Command5_Click()
{
    if (m_busy)
        return;
    if (Command5Tag == kModifyExportTag) {
        Command5Tag.clear();
        const std::string name = NameStem(m_state.PendingImportName);
        (void)openPath(programFolder() / kModifyExportFileName, name, "the ring tone \"" + name + "\"");
        return;
    }
    FileDialogRequest request;
    request.title = "Open MIDI File";
    request.filter = kMidiFileFilter;
    request.kind = FileKind::Midi;
    if (!m_services.folders)
        request.initialFolder = qtPath(programFolder() / kMidiFolderName) + "/";
    const std::optional<QString> chosen = chooseFileToOpen(m_services, this, request);
    if (!chosen || chosen->isEmpty())
        return;
    (void)openMidiFile(fsPath(*chosen));
}

bool ModifyMidiTab::openMidiFile(const fs::path& path)
{
    if (m_busy)
        return false;
    return openPath(path, NameStem(path.filename().string()), "\"" + path.filename().string() + "\"");
}

void ModifyMidiTab::openMidiFileFitted(const fs::path& path)
{
    if (openMidiFile(path))
        cmdFitEnd_Click();
}

bool ModifyMidiTab::openPath(fs::path path, const std::string& displayName, const std::string& shownName)
{
    ChannelTable* channels = table();
    if (!channels)
        return false;
    // A file that is refused changes nothing: not the player, not the rows.
    const auto refuse = [&](const std::string& message) {
        setBusy(false);
        restorePreview();
        m_services.messages->show(this, shownMessage(message, shownName), MessageIcon::None);
        return false;
    };
    // A file chosen is "the file \"x.mid\"", a ring tone handed over "the ring tone \"x\"".
    const bool isFile = shownName.starts_with('"');
    const std::string notMidi =
        (isFile ? "The file " : "The data of ") + shownName + " is not a Standard MIDI File.";
    Breather breathe;
    const WalkBreath breath = [&breathe] { breathe(); };
    setBusy(true);
    Result<Bytes> bytes = readFileBytes(path);
    if (!bytes)
        return refuse(bytes.error());
    // The header's id tells a MIDI file from any other; the song of a RIFF MIDI file is
    // taken out into a working file of its own.
    if (isRiffMidiFile(*bytes)) {
        Result<ByteView> song = standardMidiFileIn(*bytes);
        if (!song)
            return refuse(notMidi);
        path = programFolder() / kRiffSongFileNames[0];
        if (path.string() == m_state.MidiSourcePath)
            path = programFolder() / kRiffSongFileNames[1];
        if (Result<void> written = writeFileAtomic(path, *song); !written)
            return refuse(written.error());
    } else if (bytes->size() < kSmfHeaderId.size() ||
               !std::equal(kSmfHeaderId.begin(), kSmfHeaderId.end(), bytes->begin())) {
        return refuse(notMidi);
    }
    if (Result<MidiFileSummary> checked = readMidiFile(path, breath); !checked)
        return refuse(checked.error());

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
        failure = (isFile ? "The MIDI file " : "The MIDI file of ") + shownName + " has nothing to play.";
    } else if (Result<MidiFileSummary> opened = openMidiForEditing(path, *channels, m_state, breath);
               !opened) {
        failure = opened.error();
    } else {
        summary = std::move(*opened);
    }
    if (!summary) {
        (void)MMControl1->command("Close");
        refuse(failure);
        showRows();
        return false;
    }

    m_state.MidiDisplayName = displayName;
    m_summary = *summary;
    m_opened = true;
    m_songLink->sourceOpened(path);
    m_sourceShownName = shownName;
    // The result of the file opened before is no result of this one: nothing to save,
    // load or play until "Apply" has run on it.
    m_hasResult = false;
    m_state.ResultFilePath.clear();
    (void)MMControl3->command("Close");
    MMControl3->setEnabled(false);
    lblResultFit->setText("Result:");
    lblSourceFit->setText("Song: " + fitText(summary->fileSize));

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
    return true;
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

std::optional<double> ModifyMidiTab::markValue(QLineEdit* field, const char* markName)
{
    Result<double> value = markFromText(field->text().toStdString(), markName);
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
    const std::optional<double> start = markValue(txtMarkStartMSec, "start mark");
    if (!start)
        return;
    if (*start < 0) {
        showError(kStartMarkBelowZeroMessage, MessageIcon::Exclamation);
        return;
    }
    const std::optional<double> end = markValue(txtMarkEndMSec, "end mark");
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
    if (!m_hasResult)
        m_songLink->resultWritten({});
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
    // "Compact" rewrites the result once more, to the fewest bytes that sound the same; a
    // compaction that fails leaves the plain result, after the message.
    Result<Bytes> written = readFileBytes(m_state.ResultFilePath);
    if (written && chkCompact->isChecked()) {
        Result<CompactResult> compacted = compactMidi(*written);
        Result<void> replaced = compacted ? Result<void>{} : Result<void>{Error{compacted.error()}};
        if (compacted && compacted->bytes.size() < written->size())
            replaced = writeFileAtomic(m_state.ResultFilePath, compacted->bytes);
        if (replaced && compacted)
            written = std::move(compacted->bytes);
        else
            showError(replaced.error());
    }
    lblResultFit->setText(written ? "Result: " + fitText(written->size()) : QString("Result:"));
    // The view shows the result as it stands, compacted or not.
    m_songLink->resultWritten(fs::path(m_state.ResultFilePath));

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
    // The name is proposed in the folder last used for MIDI files.
    const fs::path folder = m_services.folders ? fsPath(m_services.folders->startFolder(FileKind::Midi))
                                               : programFolder() / kMidiFolderName;
    const std::string proposed =
        UniqueFileName(folder, SafeFileName(m_state.MidiDisplayName) + kMidiExtension);
    FileDialogRequest request;
    request.title = "Save MIDI File";
    request.filter = kMidiFileFilter;
    request.fileName = qtPath(folder / proposed);
    request.kind = FileKind::Midi;
    const std::optional<QString> chosen = chooseFileToSave(m_services, this, request);
    if (!chosen || chosen->isEmpty())
        return;
    const fs::path target = fsPath(*chosen);
    if (const fs::path database = m_databaseToKeep ? m_databaseToKeep() : fs::path(); !database.empty()) {
        if (Result<void> kept = checkNotWritingOver(target, database, "the ring tone database"); !kept) {
            showError(kept.error());
            return;
        }
    }
    // Read, then written whole: a failure names the file the user chose, not the result's.
    Result<Bytes> result = readFileBytes(m_state.ResultFilePath);
    if (!result) {
        showError(result.error());
        return;
    }
    if (Result<void> written = writeFileAtomic(target, *result); !written)
        showError(written.error());
}

void ModifyMidiTab::Command17_Click()
{
    if (m_state.ResultFilePath.empty())
        return;
    emit loadMidiFileRequested();
    (void)MMControl3->command("stop");
}

void ModifyMidiTab::cmdFitEnd_Click()
{
    if (m_busy || !m_summary)
        return;
    const std::optional<double> start = markValue(txtMarkStartMSec, "start mark");
    if (!start)
        return;
    Result<Bytes> source = readFileBytes(m_state.MidiSourcePath);
    if (!source) {
        showError(source.error());
        return;
    }
    // The rows as shown, edits not yet committed among them: what "Apply" would use.
    const ChannelAdjustments adjustments = adjustmentsFromRows(m_model->rows(), m_state.OpenPrograms);
    setBusy(true);
    Result<FitResult> fitted = fitEndMark(*source, *m_summary, adjustments, *start, chkCompact->isChecked());
    setBusy(false);
    if (!fitted) {
        showError(fitted.error(), MessageIcon::Exclamation);
        return;
    }
    // Never past the player's length, which "Apply" checks the end mark against.
    txtMarkEndMSec->setText(QString::number(std::min(fitted->endMs, MMControl1->length())));
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
    const std::optional<double> mark =
        markValue(field, field == txtMarkStartMSec ? "start mark" : "end mark");
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

QString ModifyMidiTab::fitText(std::uint64_t bytes)
{
    const QLocale english(QLocale::English);
    const QString size = english.toString(static_cast<qulonglong>(bytes)) + " bytes: ";
    if (bytes <= kRingToneBudgetBytes)
        return size + "fits";
    return size + english.toString(static_cast<qulonglong>(bytes - kRingToneBudgetBytes)) + " over";
}

void ModifyMidiTab::dragEnterEvent(QDragEnterEvent* event)
{
    if (!m_busy && droppedMidiFile(event->mimeData()))
        event->acceptProposedAction();
}

void ModifyMidiTab::dropEvent(QDropEvent* event)
{
    const std::optional<fs::path> file = droppedMidiFile(event->mimeData());
    if (!file || m_busy)
        return;
    event->acceptProposedAction();
    if (m_services.folders)
        m_services.folders->remember(FileKind::Midi, qtPath(*file));
    (void)openMidiFile(*file);
}

void ModifyMidiTab::updateTabOrder()
{
    std::vector<QWidget*> order;
    collectInLayoutOrder(layout(), order);
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
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
