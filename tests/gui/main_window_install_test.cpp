#include "tests/support/temp_folder.h"

#include <unistd.h>

namespace chwr::test {
namespace {
namespace fs = std::filesystem;
using InstallTest = TempFolderTest;

// `cmake --install` puts both programs, the desktop entry and the icon where menus find them.
TEST_F(InstallTest, PutsTheProgramsTheDesktopEntryAndTheIconInTheirPlaces)
{
    const fs::path prefix = path("prefix");
    const ProcessResult run =
        runProcess({CHWR_CMAKE_COMMAND, "--install", binaryDir().string(), "--prefix", prefix.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const fs::path& program : {prefix / "bin/chimewright", prefix / "bin/chwr"})
        EXPECT_TRUE(fs::is_regular_file(program) && access(program.c_str(), X_OK) == 0) << program;
    const std::string entry = asString(readFile(prefix / "share/applications/chimewright.desktop"));
    for (const char* line :
         {"[Desktop Entry]\n", "\nName=Chimewright Vuruva\n", "\nExec=chimewright\n", "\nIcon=chimewright\n"})
        EXPECT_NE(entry.find(line), std::string::npos) << line;
    const std::string icon = asString(readFile(prefix / "share/icons/hicolor/scalable/apps/chimewright.svg"));
    EXPECT_NE(icon.find("<svg"), std::string::npos);
}

} // namespace
} // namespace chwr::test
