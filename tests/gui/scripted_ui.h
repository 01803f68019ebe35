#pragma once

// Scripted stand-ins for the window's platform seams, so GUI tests drive the real
// widgets offscreen: message boxes are recorded instead of shown, file dialogs answer
// from a queue, the desktop's "open" and program starts are recorded.

#include "shell/install_handoff.h"
#include "shell/ui/ui_services.h"
#include "shell/ui/window_services.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace chwr::test {

struct ShownMessage {
    QString text;
    MessageIcon icon = MessageIcon::None;
};

class ScriptedMessageBoxes : public MessageBoxes {
public:
    void show(QWidget* owner, const QString& text, MessageIcon icon) override;

    // Every message box shown so far, in order.
    std::vector<ShownMessage> shown;
    // Called while the message "is on screen" (before show() returns), when set.
    std::function<void(const ShownMessage&)> onShow;

    // The texts alone, for compact assertions.
    QStringList texts() const;
    void clear() { shown.clear(); }
};

enum class DialogKind { Open, Save };

struct DialogCall {
    DialogKind kind = DialogKind::Open;
    FileDialogRequest request;
};

// Answers open and save dialogs from one queue, in order: a path, or nothing for a
// cancelled dialog. A dialog shown with an empty queue is answered as cancelled and
// counted in unexpected, so a test notices a dialog it did not plan for.
class ScriptedFileDialogs : public FileDialogs {
public:
    std::optional<QString> open(QWidget* owner, const FileDialogRequest& request) override;
    std::optional<QString> save(QWidget* owner, const FileDialogRequest& request) override;

    void answer(const QString& path) { answers.push_back(path); }
    void answer(const std::filesystem::path& path)
    {
        answers.push_back(QString::fromStdString(path.string()));
    }
    void cancel() { answers.push_back(QString()); }

    // The planned answers; a null QString stands for a cancelled dialog.
    std::deque<QString> answers;
    std::vector<DialogCall> calls;
    int unexpected = 0;

private:
    std::optional<QString> next(DialogKind kind, const FileDialogRequest& request);
};

struct StartedProgram {
    QString program;
    QStringList arguments;
};

class ScriptedDesktop : public DesktopServices {
public:
    bool openUrl(QWidget* owner, const QString& url) override;
    bool startProgram(const QString& program, const QStringList& arguments) override;

    std::vector<QString> openedUrls;
    std::vector<StartedProgram> started;
    // What the calls report back.
    bool openSucceeds = true;
    bool startSucceeds = true;
};

// Records every database handed to the install tool and answers with the scripted
// result (a sentence for the user, or a failure).
class ScriptedInstallHandoff : public InstallHandoff {
public:
    Result<std::string> install(const std::filesystem::path& database) override;

    std::vector<std::filesystem::path> installed;
    std::optional<std::string> failure;
    std::string sentence = "The ring tone database is queued for the next HotSync.";
};

// All four seams together, and the WindowServices that point at them.
struct ScriptedUi {
    ScriptedMessageBoxes messages;
    ScriptedFileDialogs dialogs;
    ScriptedDesktop desktop;
    ScriptedInstallHandoff install;

    WindowServices services(std::function<std::unique_ptr<MidiPlayer>()> makePlayer);
};

} // namespace chwr::test

// Readable QStrings in GoogleTest's failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
