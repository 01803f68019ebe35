#include "shell/ui/main_window.h"

#include "midi_edit/ui/mm_control.h"
#include "midi_edit/ui/modify_midi_tab.h"
#include "midi_edit/ui/progress_dialog.h"
#include "ringtone_db/ui/load_midi_tab.h"
#include "shell/palm_desktop.h"
#include "shell/program_folder.h"
#include "shell/ui/about_box.h"
#include "shell/ui/program_icon.h"
#include "shell/ui/qt_ui_services.h"
#include "shell/ui/setup_tab.h"
#include "shell/windows1252.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>

namespace chwr {

namespace {

enum Tab { LoadMidiTabIndex = 0, ModifyMidiTabIndex = 1, SetupTabIndex = 2 };

} // namespace

Form1::Form1(WindowServices& services, SettingsStore& settings, QWidget* parent)
    : QMainWindow(parent), m_services(services), m_settings(settings), m_location(settings)
{
    setObjectName("Form1");
    // "[*]" shows the mark of unwritten changes, as desktop programs do.
    setWindowTitle(QString(kMainWindowCaption) + "[*]");
    setWindowIcon(programIcon());
    endProgram = [] { QCoreApplication::exit(0); };

    mnuFile = menuBar()->addMenu("&File");
    mnuFile->setObjectName("mnuFile");
    mnuExit = mnuFile->addAction("&Exit");
    mnuExit->setObjectName("mnuExit");
    mnuAbout = menuBar()->addAction("&About");
    mnuAbout->setObjectName("mnuAbout");

    SSTab1 = new QTabWidget(this);
    SSTab1->setObjectName("SSTab1");
    loadTab = new LoadMidiTab(
        m_services, m_database, m_midiState,
        [this]() -> Result<DatabasePaths> {
            Result<std::filesystem::path> database = m_location.ResolveDatabasePath();
            if (!database)
                return Error{database.error()};
            Result<std::filesystem::path> backup = m_location.BackupPath();
            if (!backup)
                return Error{backup.error()};
            return DatabasePaths{*database, *backup};
        },
        SSTab1);
    modifyTab = new ModifyMidiTab(m_services, m_midiState, SSTab1);
    setupTab = new SetupTab(m_services, m_location, SSTab1);
    SSTab1->addTab(loadTab, "&Load MIDI");
    SSTab1->addTab(modifyTab, "&Modify MIDI");
    SSTab1->addTab(setupTab, "Se&tup");
    setCentralWidget(SSTab1);

    connect(mnuExit, &QAction::triggered, this, &Form1::mnuExit_Click);
    connect(mnuAbout, &QAction::triggered, this, &Form1::mnuAbout_Click);
    connect(loadTab, &LoadMidiTab::modifyMidiRequested, this, &Form1::ModifyMidiHandOff);
    connect(loadTab, &LoadMidiTab::fitOnModifyMidiRequested, this, [this](const QString& file) {
        SSTab1->setCurrentIndex(ModifyMidiTabIndex);
        modifyTab->openMidiFileFitted(toPath(file));
    });
    connect(loadTab, &LoadMidiTab::unwrittenChangesChanged, this, &QWidget::setWindowModified);
    modifyTab->setDatabaseToKeep([this] {
        const std::optional<DatabasePaths>& loaded = loadTab->loadedPaths();
        return loaded ? loaded->database : std::filesystem::path();
    });
    connect(modifyTab, &ModifyMidiTab::loadMidiFileRequested, this, &Form1::LoadMidiFileIntoList);
    // While "Apply" runs, the list is not reloaded and no ring tone is handed over.
    connect(modifyTab, &ModifyMidiTab::rewriteRunning, this, [this](bool running) {
        loadTab->Command1->setEnabled(!running);
        loadTab->setHandOffBlocked(running);
    });
}

Form1::~Form1() = default;

void Form1::Form_Load()
{
    // The list's columns are made with the list; what is left is finding Palm Desktop.
    const PalmDesktopDiscovery discovery = discoverPalmDesktop(m_settings, hotSyncEnvironment().winePrefix);
    m_location.setPalmDesktop(discovery.PalmDesktopDirectory, userDirectoryNames(discovery.users));
    setupTab->refresh();
    SSTab1->setCurrentIndex(LoadMidiTabIndex);
    if (std::optional<std::string> message = startupMessage(discovery, m_settings)) {
        // Shown over the window once it is on the screen, not in a box of its own.
        QTimer::singleShot(0, this, [this, text = *message] { findDatabaseOnFirstStart(text); });
    }
}

void Form1::findDatabaseOnFirstStart(const std::string& message)
{
    const std::filesystem::path jpilot = jpilotBackupDatabase(hotSyncEnvironment());
    if (!jpilot.empty()) {
        m_location.setBrowsedPath(jpilot.string());
        m_location.selectOption(static_cast<int>(LocationOption::Path));
        setupTab->refresh();
        statusBar()->showMessage("Using J-Pilot's backup of the ring tone database: " + toQString(jpilot));
        return;
    }
    SSTab1->setCurrentIndex(SetupTabIndex);
    m_services.messages->show(this, toQString(message) + "\n" + kChooseDatabaseHint,
                              MessageIcon::Exclamation);
}

void Form1::Form_Activate()
{
    // A folder that cannot be set up shows itself when a file is written there.
    (void)setUpProgramFolder();
    m_location.applyStoredSettings();
    setupTab->refresh();
}

void Form1::mnuExit_Click()
{
    if (mayClose())
        endProgram();
}

bool Form1::mayClose()
{
    return loadTab->settleUnwrittenChanges(kWriteBeforeClosingQuestion);
}

void Form1::mnuAbout_Click()
{
    if (!aboutBox)
        aboutBox = new frmAbout(m_services, this);
    aboutBox->show();
    aboutBox->raise();
    aboutBox->activateWindow();
}

void Form1::ModifyMidiHandOff(std::size_t row)
{
    // The players let go of the files before the hand-off file is replaced.
    (void)modifyTab->MMControl1->command("stop");
    (void)modifyTab->MMControl1->command("close");
    (void)loadTab->MMControl2->command("stop");
    Result<std::filesystem::path> handOff = loadTab->writeModifyExport(row);
    if (!handOff) {
        m_services.messages->show(this, toQString(handOff.error()), MessageIcon::Exclamation);
        return;
    }
    modifyTab->Command5Tag = kModifyExportTag;
    m_midiState.PendingImportName = loadTab->rowName(row).toStdString();
    SSTab1->setCurrentIndex(ModifyMidiTabIndex);
    modifyTab->Command5_Click();
}

void Form1::LoadMidiFileIntoList()
{
    if (m_midiState.ResultFilePath.empty())
        return;
    const Bytes name = m_database.uniqueRingToneName(utf8ToWindows1252(m_midiState.MidiDisplayName));
    m_midiState.PendingImportName = windows1252ToUtf8(name);
    m_midiState.PendingImportPath = m_midiState.ResultFilePath;
    loadTab->AddMidiFile();
    SSTab1->setCurrentIndex(LoadMidiTabIndex);
}

bool Form1::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate) {
        m_activated = true;
        Form_Activate();
    }
    return QMainWindow::event(event);
}

void Form1::showEvent(QShowEvent* event)
{
    if (!m_loaded) {
        m_loaded = true;
        Form_Load();
        // The first activation follows the first show even where no window manager
        // hands the window the focus (a bare X server, the offscreen platform).
        QTimer::singleShot(0, this, [this] {
            if (!m_activated) {
                m_activated = true;
                Form_Activate();
            }
        });
    }
    QMainWindow::showEvent(event);
}

void Form1::closeEvent(QCloseEvent* event)
{
    // The main window goes first, then the program's other windows; closing the
    // progress window cancels a rewrite that is going.
    if (!mayClose()) {
        event->ignore();
        return;
    }
    if (modifyTab->progressDialog->isVisible())
        modifyTab->progressDialog->reject();
    if (aboutBox)
        aboutBox->close();
    event->accept();
}

} // namespace chwr
