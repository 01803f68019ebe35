#pragma once

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
};

// File dialogs through QFileDialog. Filters come in the "Description|*.ext" form the
// handlers use and are turned into Qt's "Description (*.ext)" form here.
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
