#include "ringtone_db/ui/load_midi_tab.h"

#include "midi_edit/ui/mm_control.h"
#include "ringtone_db/ring_tone_files.h"
#include "shell/file_helpers.h"
#include "shell/file_io.h"
#include "shell/program_folder.h"
#include "shell/ui/qt_ui_services.h"
#include "shell/windows1252.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace chwr {
namespace fs = std::filesystem;

namespace {

constexpr const char* kMidiFileFilter = "MIDI File (*.mid)|*.mid";
// How often a long loop lets the window repaint and take clicks.
constexpr qint64 kBreatheIntervalMs = 50;

enum Column { NameColumn = 0, SizeColumn = 1, AddedColumn = 2 };

QString nameText(ByteView name)
{
    return QString::fromStdString(windows1252ToUtf8(name));
}

QPushButton* makeButton(const char* name, const QString& caption, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    return button;
}

} // namespace

LoadMidiTab::LoadMidiTab(WindowServices& services, RingToneDatabase& database, MidiEditState& state,
                         DatabasePathResolver resolvePaths, QWidget* parent)
    : QWidget(parent), m_services(services), m_database(database), m_state(state),
      m_resolvePaths(std::move(resolvePaths))
{
    setObjectName("LoadMidiTab");

    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName("ListView1");
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setHeaderLabels({"Name", "Size", QString()});
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setMinimumSectionSize(1);
    ListView1->headerItem()->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    ListView1->setColumnWidth(NameColumn, columnWidthFor(kNameColumnSample));
    ListView1->setColumnWidth(SizeColumn, columnWidthFor(kSizeColumnSample));
    ListView1->setColumnWidth(AddedColumn, columnWidthFor(kAddedColumnSample));
    ListView1->viewport()->installEventFilter(this);

    Command1 = makeButton("Command1", "Load Current Ring Tones", this);
    Command2 = makeButton("Command2", "Add MIDI File", this);
    Command7 = makeButton("Command7", "Update Ring Tones", this);
    Command13 = makeButton("Command13", "Export MIDI", this);
    Command14 = makeButton("Command14", "Modify MIDI", this);
    Command2->setEnabled(false);
    Command7->setEnabled(false);
    Command13->setEnabled(false);
    Command14->setEnabled(false);

    MMControl2 = new MMControl(m_services.makePlayer(), this);
    MMControl2->setObjectName("MMControl2");
    MMControl2->setEnabled(false);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    buttons->addWidget(Command7);
    buttons->addSpacing(16);
    buttons->addWidget(Command13);
    buttons->addWidget(Command14);
    buttons->addStretch();

    auto* top = new QHBoxLayout;
    top->addWidget(ListView1, 1);
    top->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(MMControl2);

    connect(Command1, &QPushButton::clicked, this, &LoadMidiTab::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &LoadMidiTab::Command2_Click);
    connect(Command7, &QPushButton::clicked, this, &LoadMidiTab::Command7_Click);
    connect(Command13, &QPushButton::clicked, this, &LoadMidiTab::Command13_Click);
    connect(Command14, &QPushButton::clicked, this, &LoadMidiTab::Command14_Click);
    connect(MMControl2, &MMControl::StatusUpdate, this, &LoadMidiTab::MMControl2_StatusUpdate);
}

int LoadMidiTab::columnWidthFor(const QString& sample) const
{
    // The sample drawn in the list's font, plus the margin a cell keeps on each side.
    const int margin = ListView1->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, ListView1) + 1;
    return ListView1->fontMetrics().horizontalAdvance(sample) + 2 * margin;
}

std::optional<std::size_t> LoadMidiTab::selectedRow() const
{
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    if (selected.isEmpty())
        return std::nullopt;
    return static_cast<std::size_t>(ListView1->indexOfTopLevelItem(selected.front()));
}

QString LoadMidiTab::rowName(std::size_t row) const
{
    const QTreeWidgetItem* item = ListView1->topLevelItem(static_cast<int>(row));
    return item ? item->text(NameColumn) : QString();
}

void LoadMidiTab::refuse(const QString& message)
{
    m_services.messages->show(window(), message, MessageIcon::Exclamation);
}

void LoadMidiTab::unload()
{
    (void)MMControl2->command("Close");
    ListView1->clear();
    m_database = RingToneDatabase();
    m_loadedPaths.reset();
    m_loadedFile = {};
}

void LoadMidiTab::appendRow(std::size_t index)
{
    const RingToneRecord& ringTone = m_database.ringTones().at(index);
    auto* item = new QTreeWidgetItem(ListView1);
    item->setText(NameColumn, nameText(ringTone.name));
    item->setText(SizeColumn, QString::number(ringTone.size));
    item->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    item->setText(AddedColumn, ringTone.carriesAddedMark() ? "x" : "");
}

void LoadMidiTab::showRows()
{
    // The window repaints and takes clicks while a long list fills; the list's own
    // actions wait until it is whole.
    m_filling = true;
    ListView1->clear();
    QElapsedTimer sinceBreath;
    sinceBreath.start();
    for (std::size_t i = 0; i < m_database.ringTones().size(); ++i) {
        appendRow(i);
        if (sinceBreath.elapsed() >= kBreatheIntervalMs) {
            QCoreApplication::processEvents();
            sinceBreath.restart();
        }
    }
    m_filling = false;
}

void LoadMidiTab::Command1_Click()
{
    if (m_filling)
        return;
    Result<DatabasePaths> paths = m_resolvePaths();
    if (!paths) {
        refuse(QString::fromStdString(paths.error()));
        return;
    }
    if (!FileExists(paths->database)) {
        unload();
        refuse(QString::fromStdString(kDatabaseMissingMessage + paths->database.string()));
        return;
    }
    LoadedFileIdentity identity;
    Result<RingToneDatabase> loaded = loadRingTones(paths->database, &identity);
    if (!loaded) {
        // A refused database unloads the earlier one too: "Update" must never write an
        // older list over the file the user just tried to load.
        unload();
        refuse(QString::fromStdString(loaded.error()));
        return;
    }
    m_database = std::move(loaded).value();
    m_loadedPaths = *paths;
    m_loadedFile = std::move(identity);
    showRows();
    Command2->setEnabled(true);
    Command7->setEnabled(true);
    Command1->setText("Reload Current Ring Tones");
}

void LoadMidiTab::Command2_Click()
{
    AddMidiFile();
}

void LoadMidiTab::AddMidiFile()
{
    const std::string pendingPath = std::exchange(m_state.PendingImportPath, std::string());
    if (m_filling)
        return;
    if (!m_database.isLoaded()) {
        refuse(kNoRingTonesLoadedMessage);
        return;
    }

    fs::path file;
    Bytes name;
    if (pendingPath.empty()) {
        FileDialogRequest request;
        request.title = "Add MIDI File";
        request.filter = kMidiFileFilter;
        request.initialFolder = toQString(programFolder() / kMidiFolderName);
        std::optional<QString> chosen = m_services.dialogs->open(window(), request);
        if (!chosen)
            return;
        file = toPath(*chosen);
        m_state.MidiDisplayName = NameStem(file.filename().string());
        name = m_database.uniqueRingToneName(utf8ToWindows1252(m_state.MidiDisplayName));
    } else {
        file = pendingPath;
        name = utf8ToWindows1252(m_state.PendingImportName);
    }

    Result<std::size_t> added = addMidiFileNamed(m_database, file, name);
    if (!added) {
        refuse(QString::fromStdString(added.error()));
        return;
    }
    appendRow(*added);
    // Selecting from code is no click: it does not start a preview.
    ListView1->setCurrentItem(ListView1->topLevelItem(static_cast<int>(*added)));
    ListView1->scrollToItem(ListView1->currentItem());
}

void LoadMidiTab::Command7_Click()
{
    if (m_filling)
        return;
    if (!m_database.isLoaded() || !m_loadedPaths) {
        refuse(kNoRingTonesLoadedMessage);
        return;
    }
    // The file the list came from, unchanged since: never another one that the Setup tab
    // names by now, nor one that another program wrote in between.
    Result<UpdateOutcome> updated =
        updateRingTones(m_database, m_loadedPaths->database, m_loadedPaths->backup, m_services.install,
                        UpdateGuard(m_loadedFile));
    if (!updated) {
        m_services.messages->show(window(), QString::fromStdString(updated.error()), MessageIcon::Critical);
        return;
    }
    m_loadedFile = updated->written;
    ListView1->update();
    QString notice = kHotSyncNotice;
    if (!updated->installMessage.empty())
        notice += "\n\n" + QString::fromStdString(updated->installMessage);
    m_services.messages->show(window(), notice, MessageIcon::Information);
}

std::optional<std::size_t> LoadMidiTab::rowForAction()
{
    if (m_filling)
        return std::nullopt;
    if (ListView1->topLevelItemCount() == 0) {
        refuse(kNoRingTonesLoadedMessage);
        return std::nullopt;
    }
    std::optional<std::size_t> row = selectedRow();
    if (!row)
        refuse(kNoRingToneSelectedMessage);
    return row;
}

void LoadMidiTab::ListView1_Click()
{
    PreviewRingTone();
}

void LoadMidiTab::PreviewRingTone()
{
    std::optional<std::size_t> row = rowForAction();
    if (!row)
        return;
    MMControl2->setEnabled(true);
    Command13->setEnabled(true);
    Command14->setEnabled(true);

    // The player lets go of the preview file before it is replaced.
    (void)MMControl2->command("Close");
    Result<fs::path> folder = ensureProgramFolder();
    if (!folder) {
        refuse(QString::fromStdString(folder.error()));
        return;
    }
    const fs::path preview = *folder / kPreviewFileName;
    if (auto written = writeFileAtomic(preview, m_database.ringTones().at(*row).midiData()); !written) {
        refuse(QString::fromStdString(written.error()));
        return;
    }
    MMControl2->setDeviceType("Sequencer");
    MMControl2->setFileName(preview);
    if (auto opened = MMControl2->command("Open"); !opened) {
        refuse(QString::fromStdString(opened.error()));
        return;
    }
    (void)MMControl2->command("Play");
}

void LoadMidiTab::Command13_Click()
{
    ExportRingTone();
}

void LoadMidiTab::ExportRingTone()
{
    std::optional<std::size_t> row = rowForAction();
    if (!row)
        return;
    const fs::path folder = programFolder() / kMidiFolderName;
    FileDialogRequest request;
    request.title = "Export MIDI File";
    request.filter = kMidiFileFilter;
    request.fileName = toQString(folder / exportFileName(m_database.ringTones().at(*row), folder));
    std::optional<QString> chosen = m_services.dialogs->save(window(), request);
    if (!chosen)
        return;
    const fs::path target = toPath(*chosen);
    auto exported = m_loadedPaths ? exportRingTone(m_database, *row, target, m_loadedPaths->database)
                                  : exportRingTone(m_database, *row, target);
    if (!exported)
        m_services.messages->show(window(), QString::fromStdString(exported.error()), MessageIcon::Critical);
}

void LoadMidiTab::Command14_Click()
{
    if (m_handOffBlocked)
        return;
    if (std::optional<std::size_t> row = rowForAction())
        emit modifyMidiRequested(*row);
}

Result<fs::path> LoadMidiTab::writeModifyExport(std::size_t row)
{
    Result<fs::path> folder = ensureProgramFolder();
    if (!folder)
        return Error{folder.error()};
    const fs::path handOff = *folder / kModifyExportFileName;
    if (auto written = writeFileAtomic(handOff, m_database.ringTones().at(row).midiData()); !written)
        return Error{written.error()};
    return handOff;
}

void LoadMidiTab::MMControl2_StatusUpdate()
{
    // A ring tone that has played to its end stands at its start again.
    if (MMControl2->player().isOpen() && MMControl2->position() >= MMControl2->length())
        (void)MMControl2->command("Prev");
}

bool LoadMidiTab::eventFilter(QObject* watched, QEvent* event)
{
    // A click anywhere on the list, on a row or on the empty space below the rows.
    if (watched == ListView1->viewport() && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        ListView1_Click();
    return QWidget::eventFilter(watched, event);
}

} // namespace chwr
