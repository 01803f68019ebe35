#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace chwr {
namespace {
namespace fs = std::filesystem;

using InstallTest = test::TempFolderTest;

bool isExecutable(const fs::path& file)
{
    return fs::is_regular_file(file) &&
           (fs::status(file).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

// `cmake --install` of this build puts both programs, the desktop entry and the icon
// where the desktop's menu finds them.
TEST_F(InstallTest, PutsTheProgramsTheDesktopEntryAndTheIconInTheirPlaces)
{
    const fs::path prefix = path("prefix");
    const test::ProcessResult installed = test::runProcess(
        {CHWR_CMAKE_COMMAND, "--install", test::binaryDir().string(), "--prefix", prefix.string()});
    ASSERT_EQ(installed.exitCode, 0) << installed.err;

    EXPECT_TRUE(isExecutable(prefix / "bin" / "chimewright"));
    EXPECT_TRUE(isExecutable(prefix / "bin" / "chwr"));
    const std::string entry = asString(readFile(prefix / "share" / "applications" / "chimewright.desktop"));
    EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(entry.find("\nName=Chimewright Vuruva\n"), std::string::npos);
    EXPECT_NE(entry.find("\nExec=chimewright\n"), std::string::npos);
    EXPECT_NE(entry.find("\nIcon=chimewright\n"), std::string::npos);
    const std::string icon =
        asString(readFile(prefix / "share" / "icons" / "hicolor" / "scalable" / "apps" / "chimewright.svg"));
    EXPECT_NE(icon.find("<svg"), std::string::npos);
}

} // namespace
} // namespace chwr
