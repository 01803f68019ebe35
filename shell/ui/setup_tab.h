#pragma once

#include "shell/database_location.h"
#include "shell/hotsync_environment.h"
#include "shell/ui/window_services.h"

#include <QWidget>

#include <array>
#include <functional>

class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace chwr {

// Said when "Browse" picks the program's own copy of the last database header.
inline constexpr const char* kWorkingCopyRefusal =
    "This file is the program's own copy of a database header, not a ring tone database. Choose "
    "the ring tone database of a HotSync backup.";

// The "Setup" tab: where the ring tone database is (a HotSync user's backup folder or
// a file the user picked) and the button that opens the program's web page. The
// "Database Location" frame shows a DatabaseLocation and forwards the user's edits to it.
class SetupTab : public QWidget {
    Q_OBJECT
public:
    SetupTab(WindowServices& services, DatabaseLocation& location, QWidget* parent = nullptr);

    QGroupBox* Frame1 = nullptr;
    // Option1[0] "Hotsync ID (shortname):" with Combo1; Option1[1] "Path:" with
    // txtPalmDBPath and Command12.
    std::array<QRadioButton*, 2> Option1{};
    QComboBox* Combo1 = nullptr;
    QLineEdit* txtPalmDBPath = nullptr;
    QPushButton* Command12 = nullptr;
    QPushButton* Command18 = nullptr;

    // Shows the location's state: the users, the texts, the option and what it enables.
    void refresh();

    // Where "Browse" starts; tests replace it to keep the user's own folders out.
    std::function<HotSyncEnvironment()> hotSyncEnvironment = systemHotSyncEnvironment;

public slots:
    void Option1_Click(int index);
    void Combo1_Change(const QString& text);
    void Combo1_Click(int index);
    void txtPalmDBPath_Change(const QString& text);
    void Command12_Click();
    void Command18_Click();

private:
    WindowServices& m_services;
    DatabaseLocation& m_location;
};

} // namespace chwr
