#include "shell/ui/about_box.h"
#include "tests/gui/scripted_ui.h"
#include "tests/support/temp_folder.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace chwr {
namespace {
namespace fs = std::filesystem;

// The about box with the scripted desktop; PATH points into the test folder so that
// which system information tool is "installed" is up to each case.
class AboutBoxTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        const char* path = std::getenv("PATH");
        m_oldPath = path ? path : "";
        fs::create_directories(tools());
        ::setenv("PATH", tools().c_str(), 1);
        services = ui.services({});
        box = new frmAbout(services);
    }

    void TearDown() override
    {
        ::setenv("PATH", m_oldPath.c_str(), 1);
        delete box;
        TempFolderTest::TearDown();
    }

    fs::path tools() const { return folder() / "bin"; }

    fs::path installTool(const std::string& name, fs::perms permissions = fs::perms::owner_all)
    {
        fs::path tool = writeFile("bin/" + name, ByteView{});
        fs::permissions(tool, permissions);
        return tool;
    }

    test::ScriptedUi ui;
    WindowServices services;
    QPointer<frmAbout> box;

private:
    std::string m_oldPath;
};

TEST_F(AboutBoxTest, ShowsTheProgramVersionAndWebAddress)
{
    EXPECT_EQ(box->windowTitle(), "About ");
    EXPECT_EQ(box->lblVersion->text(), "2.0.1");
    EXPECT_EQ(box->Label1->text(), "Visit our website for support and FAQ");
    EXPECT_EQ(box->Label2->text(), kProgramWebPage);
    EXPECT_EQ(box->cmdOK->text(), "OK");
    EXPECT_EQ(box->cmdSysInfo->text(), "&System Info...");
    EXPECT_TRUE(box->lblDescription->text().contains("ring tones"));
    EXPECT_FALSE(box->Picture1->pixmap().isNull());
}

TEST_F(AboutBoxTest, ClickingTheWebAddressOpensItAndTheBoxStaysOpen)
{
    box->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box.data()));
    QTest::mouseClick(box->Label2, Qt::LeftButton);
    ASSERT_EQ(ui.desktop.openedUrls.size(), 1u);
    EXPECT_EQ(ui.desktop.openedUrls[0], kProgramWebPage);
    EXPECT_TRUE(box->isVisible());
}

TEST_F(AboutBoxTest, WithoutASystemInformationToolTheUserIsTold)
{
    // A file of a tool's name that is not executable does not count.
    installTool("hardinfo", fs::perms::owner_read | fs::perms::owner_write);
    box->cmdSysInfo->click();
    EXPECT_TRUE(ui.desktop.started.empty());
    ASSERT_EQ(ui.messages.shown.size(), 1u);
    EXPECT_EQ(ui.messages.shown[0].text, "System Information Is Unavailable At This Time");
    EXPECT_EQ(ui.messages.shown[0].icon, MessageIcon::None);
}

TEST_F(AboutBoxTest, StartsTheFirstInstalledSystemInformationTool)
{
    installTool("gnome-system-monitor");
    const fs::path kinfocenter = installTool("kinfocenter");
    box->cmdSysInfo->click();
    ASSERT_EQ(ui.desktop.started.size(), 1u);
    EXPECT_EQ(ui.desktop.started[0].program, QString::fromStdString(kinfocenter.string()));
    EXPECT_TRUE(ui.messages.shown.empty());
}

TEST_F(AboutBoxTest, AToolThatWillNotStartGivesTheMessage)
{
    installTool("xfce4-about");
    ui.desktop.startSucceeds = false;
    box->StartSysInfo();
    EXPECT_EQ(ui.desktop.started.size(), 1u);
    EXPECT_EQ(ui.messages.texts(), QStringList{"System Information Is Unavailable At This Time"});
}

TEST_F(AboutBoxTest, OkClosesTheBox)
{
    box->show();
    box->cmdOK->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(box.isNull());
}

TEST_F(AboutBoxTest, FindsAToolInAnyFolderOfThePath)
{
    fs::create_directories(path("empty"));
    const fs::path tool = installTool("hardinfo");
    const QString searchPath = QString::fromStdString(path("empty").string() + ":" +
                                                      path("missing").string() + ":" + tools().string());
    EXPECT_EQ(findSystemInfoTool(searchPath), QString::fromStdString(tool.string()));
    EXPECT_EQ(findSystemInfoTool(QString::fromStdString(path("empty").string())), "");
}

} // namespace
} // namespace chwr
