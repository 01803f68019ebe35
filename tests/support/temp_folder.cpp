#include "tests/support/temp_folder.h"

#include "shell/file_io.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sys/wait.h>

namespace chwr::test {
namespace fs = std::filesystem;

void TempFolderTest::SetUp()
{
    std::random_device random;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("chwr-") + (info ? info->name() : "test") + "-" + std::to_string(random());
    std::replace(name.begin(), name.end(), '/', '_');
    m_folder = fs::temp_directory_path() / name;
    fs::create_directories(m_folder / "home");
    ::setenv("CHIMEWRIGHT_HOME", (m_folder / "home").c_str(), 1);
    ::setenv("CHIMEWRIGHT_REGISTRY", (m_folder / "registry.reg").c_str(), 1);
}

void TempFolderTest::TearDown()
{
    setFileFaultHook({});
    std::error_code ignored;
    fs::permissions(m_folder, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(m_folder, ignored);
}

fs::path TempFolderTest::writeFile(const std::string& name, ByteView bytes) const
{
    fs::path target = m_folder / name;
    fs::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        ADD_FAILURE() << "cannot write test file " << target;
    return target;
}

Bytes TempFolderTest::readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        ADD_FAILURE() << "cannot read " << path;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> TempFolderTest::listFolder(const fs::path& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

fs::path binaryDir()
{
    if (const char* dir = std::getenv("CHWR_BINARY_DIR"); dir && *dir)
        return dir;
    return CHWR_BINARY_DIR;
}

namespace {

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const fs::path& workDir)
{
    std::random_device random;
    fs::path outFile = fs::temp_directory_path() / ("chwr-out-" + std::to_string(random()));
    fs::path errFile = fs::temp_directory_path() / ("chwr-err-" + std::to_string(random()));
    std::string command;
    if (!workDir.empty())
        command += "cd " + shellQuote(workDir.string()) + " && ";
    for (const std::string& arg : argv)
        command += shellQuote(arg) + " ";
    command += "</dev/null >" + shellQuote(outFile.string()) + " 2>" + shellQuote(errFile.string());
    int status = std::system(command.c_str());
    ProcessResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = slurp(outFile);
    result.err = slurp(errFile);
    std::error_code ignored;
    fs::remove(outFile, ignored);
    fs::remove(errFile, ignored);
    return result;
}

ProcessResult runChwr(std::vector<std::string> args)
{
    args.insert(args.begin(), (binaryDir() / "cli" / "chwr").string());
    return runProcess(args);
}

} // namespace chwr::test
