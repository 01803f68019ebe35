#include "shell/ui/about_box.h"

#include "shell/ui/program_icon.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

namespace chwr {

const QStringList& systemInfoTools()
{
    // A system profiler first, then the desktops' own "about this computer" tools.
    static const QStringList tools = {"hardinfo", "kinfocenter", "xfce4-about", "mate-system-monitor",
                                      "gnome-system-monitor"};
    return tools;
}

QString findSystemInfoTool(const QString& searchPath)
{
    const QStringList folders = searchPath.split(QDir::listSeparator(), Qt::SkipEmptyParts);
    for (const QString& tool : systemInfoTools()) {
        for (const QString& folder : folders) {
            const QFileInfo candidate(QDir(folder), tool);
            if (candidate.isFile() && candidate.isExecutable())
                return candidate.absoluteFilePath();
        }
    }
    return {};
}

frmAbout::frmAbout(WindowServices& services, QWidget* parent) : QDialog(parent), m_services(services)
{
    setObjectName("frmAbout");
    setAttribute(Qt::WA_DeleteOnClose);

    Picture1 = new QLabel(this);
    Picture1->setObjectName("Picture1");
    Picture1->setPixmap(programIcon().pixmap(64, 64));
    Picture1->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    lblTitle = new QLabel("Chimewright Vuruva", this);
    lblTitle->setObjectName("lblTitle");
    QFont titleFont = lblTitle->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);

    lblVersion = new QLabel(this);
    lblVersion->setObjectName("lblVersion");

    lblDescription =
        new QLabel("Installs MIDI files as Treo ring tones and exports ring tones as MIDI files. "
                   "Crops ring tones, raises or lowers single channels, their velocity and their "
                   "octave, and changes instrument patches.",
                   this);
    lblDescription->setObjectName("lblDescription");
    lblDescription->setWordWrap(true);

    Label1 = new QLabel(this);
    Label1->setObjectName("Label1");
    Label2 = new QLabel(this);
    Label2->setObjectName("Label2");
    Label2->setCursor(Qt::PointingHandCursor);
    QPalette linkPalette = Label2->palette();
    linkPalette.setColor(QPalette::WindowText, linkPalette.color(QPalette::Link));
    Label2->setPalette(linkPalette);
    QFont linkFont = Label2->font();
    linkFont.setUnderline(true);
    Label2->setFont(linkFont);
    Label2->installEventFilter(this);

    auto* line = new QFrame(this);
    line->setObjectName("Line1");
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    cmdOK = new QPushButton("OK", this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setDefault(true);
    cmdSysInfo = new QPushButton("&System Info...", this);
    cmdSysInfo->setObjectName("cmdSysInfo");

    auto* text = new QVBoxLayout;
    text->addWidget(lblTitle);
    text->addWidget(lblVersion);
    text->addSpacing(8);
    text->addWidget(lblDescription);
    text->addSpacing(8);
    text->addWidget(Label1);
    text->addWidget(Label2);
    text->addStretch();

    auto* top = new QHBoxLayout;
    top->addWidget(Picture1);
    top->addSpacing(12);
    top->addLayout(text, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(line);
    layout->addLayout(buttons);
    setMinimumWidth(460);

    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
    Form_Load();
}

void frmAbout::Form_Load()
{
    setWindowTitle("About ");
    lblVersion->setText(kAboutVersion);
    Label1->setText("Visit our website for support and FAQ");
    Label2->setText(kProgramWebPage);
}

void frmAbout::cmdOK_Click()
{
    close();
}

void frmAbout::Label2_Click()
{
    // The box stays open; a browser that does not start is not reported.
    m_services.desktop->openUrl(this, Label2->text());
}

void frmAbout::cmdSysInfo_Click()
{
    StartSysInfo();
}

void frmAbout::StartSysInfo()
{
    const QString tool = findSystemInfoTool(qEnvironmentVariable("PATH"));
    if (!tool.isEmpty() && m_services.desktop->startProgram(tool, {}))
        return;
    m_services.messages->show(this, kSysInfoUnavailableMessage, MessageIcon::None);
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Label2 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Label2_Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace chwr
