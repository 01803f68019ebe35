#pragma once

#include "shell/settings_store.h"
#include "shell/ui/ui_services.h"

#include <QString>

#include <filesystem>
#include <string>

namespace chwr {

// Paths and core texts (UTF-8) at the window's edge.
inline QString toQString(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}
inline QString toQString(const std::string& utf8)
{
    return QString::fromStdString(utf8);
}
inline std::filesystem::path toPath(const QString& text)
{
    return std::filesystem::path(text.toStdString());
}

// The program's title on every message box.
inline constexpr const char* kProgramTitle = "Chimewright Vuruva";

// Message boxes through QMessageBox: the program's title, an OK button, the icon asked for.
class QtMessageBoxes : public MessageBoxes {
public:
    void show(QWidget* owner, const QString& text, MessageIcon icon) override;
    int ask(QWidget* owner, const QString& text, const QStringList& buttons, MessageIcon icon) override;
};

// The folder last used for each kind of file, as the settings "CHWR-MidiFolder" and
// "CHWR-DatabaseFolder"; a kind without one, or whose folder is gone, starts in `home`.
inline constexpr std::string_view kMidiFolderSetting = "CHWR-MidiFolder";
inline constexpr std::string_view kDatabaseFolderSetting = "CHWR-DatabaseFolder";
class SettingsDialogFolders : public DialogFolders {
public:
    SettingsDialogFolders(SettingsStore& settings, std::filesystem::path home)
        : m_settings(settings), m_home(std::move(home))
    {
    }
    QString startFolder(FileKind kind) const override;
    void remember(FileKind kind, const QString& chosenFile) override;

private:
    SettingsStore& m_settings;
    std::filesystem::path m_home;
};

// File dialogs through QFileDialog. Filters come in the "Description|*.ext" form the
// handlers use and are turned into Qt's "Description (*.ext)" form here. A request with
// hidden files uses Qt's own dialog, whose list can leave them out.
class QtFileDialogs : public FileDialogs {
public:
    std::optional<QString> open(QWidget* owner, const FileDialogRequest& request) override;
    std::optional<QString> save(QWidget* owner, const FileDialogRequest& request) override;
};

// The desktop's "open" through QDesktopServices, programs through QProcess.
class QtDesktopServices : public DesktopServices {
public:
    bool openUrl(QWidget* owner, const QString& url) override;
    bool startProgram(const QString& program, const QStringList& arguments) override;
};

// "MIDI File (*.mid)|*.mid" becomes "MIDI File (*.mid)"; several pairs are joined by ";;".
QString qtFileFilter(const QString& pipeFilter);
// Where a dialog starts: the preset name inside the initial folder, or the preset path.
QString dialogStartPath(const FileDialogRequest& request);

} // namespace chwr
