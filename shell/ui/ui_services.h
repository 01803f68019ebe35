#pragma once

// The platform pieces the window needs that would otherwise block or leave the
// process: message boxes, file dialogs and the desktop's "open". The real ones are
// Qt's; tests script them, so the real window runs offscreen without anything modal.

#include <QString>

#include <optional>

class QWidget;

namespace chwr {

enum class MessageIcon { None, Information, Exclamation, Critical };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // A message box with the program's title "Chimewright Vuruva" and an OK button.
    virtual void show(QWidget* owner, const QString& text, MessageIcon icon) = 0;
};

struct FileDialogRequest {
    QString title;          // "Add MIDI File"
    QString filter;         // "MIDI File (*.mid)|*.mid"
    QString initialFolder;  // may be empty
    QString fileName;       // preset full path or name; may be empty
};

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The chosen full path, or nothing when the user cancelled.
    virtual std::optional<QString> open(QWidget* owner, const FileDialogRequest& request) = 0;
    virtual std::optional<QString> save(QWidget* owner, const FileDialogRequest& request) = 0;
};

class DesktopServices {
public:
    virtual ~DesktopServices() = default;
    // Opens a web address with the desktop's browser; false when nothing took it.
    virtual bool openUrl(QWidget* owner, const QString& url) = 0;
    // Starts a program in a normal window; false when it could not be started.
    virtual bool startProgram(const QString& program, const QStringList& arguments) = 0;
};

}  // namespace chwr
