#pragma once

#include "shell/bytes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace chwr::test {

// Each test gets a fresh folder of its own; the program folder (CHIMEWRIGHT_HOME) and
// the settings file (CHIMEWRIGHT_REGISTRY) point inside it, and any injected file
// fault is switched off again at the end.
class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    const std::filesystem::path& folder() const { return m_folder; }
    std::filesystem::path home() const { return m_folder / "home"; }
    std::filesystem::path path(const std::string& name) const { return m_folder / name; }

    // Writes bytes to a file inside the test folder and returns its path.
    std::filesystem::path writeFile(const std::string& name, ByteView bytes) const;
    static Bytes readFile(const std::filesystem::path& path);
    // Names of the entries of a folder, sorted.
    static std::vector<std::string> listFolder(const std::filesystem::path& folder);

private:
    std::filesystem::path m_folder;
};

// The build folder, where the executables are (for tests that run chwr as a user does).
std::filesystem::path binaryDir();

// Runs a command line through the shell; returns its exit status and captures its
// standard output and error.
struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};
ProcessResult runProcess(const std::vector<std::string>& argv, const std::filesystem::path& workDir = {});
// Runs the build's chwr with these arguments.
ProcessResult runChwr(std::vector<std::string> args);

} // namespace chwr::test
