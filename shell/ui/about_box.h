#pragma once

#include "shell/ui/window_services.h"

#include <QDialog>
#include <QString>
#include <QStringList>

class QLabel;
class QPushButton;

namespace chwr {

// The version the about box shows.
inline constexpr const char* kAboutVersion = CHWR_VERSION;
// The page about the program that the about box and the Setup tab open.
inline constexpr const char* kProgramWebPage = "https://chimewright-vuruva.example.org/";
inline constexpr const char* kSysInfoUnavailableMessage = "System Information Is Unavailable At This Time";

// The desktop system information tools looked for, in this order.
const QStringList& systemInfoTools();
// The full path of the first of systemInfoTools() that is an executable file in one of
// the folders of searchPath (a PATH-style list); empty when none is installed.
QString findSystemInfoTool(const QString& searchPath);

// The about box: name, version and description of the program, the program's web
// page (opened in the browser when clicked) and a button that starts the desktop's
// system information tool. Shown modeless; OK closes it.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(WindowServices& services, QWidget* parent = nullptr);

    QLabel* Picture1 = nullptr;
    QLabel* lblTitle = nullptr;
    QLabel* lblDescription = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdSysInfo = nullptr;

public slots:
    void Form_Load();
    void cmdOK_Click();
    void Label2_Click();
    void cmdSysInfo_Click();
    void StartSysInfo();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    WindowServices& m_services;
};

} // namespace chwr
