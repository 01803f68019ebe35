#pragma once

#include "shell/file_io.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace chwr::test {

// A run gives up after this many file operations have each been made to fail in turn.
inline constexpr int kMaxFailingSteps = 400;

struct InjectedFault {
    FileOp op = FileOp::OpenRead;
    std::filesystem::path path;
};

// While it lives, the step-th file operation (counted from 1) that goes through the file
// layer fails with error; every other operation goes ahead.
class StepFault {
public:
    StepFault(int step, int error);
    ~StepFault();
    StepFault(const StepFault&) = delete;
    StepFault& operator=(const StepFault&) = delete;

    // The operation that was made to fail, if the run got that far.
    const std::optional<InjectedFault>& injected() const;
    // Turns the injection off before the checks that follow a run.
    void release();

private:
    struct State;
    std::shared_ptr<State> m_state;
};

// While it lives, every operation of the given kinds fails with error.
class KindFault {
public:
    KindFault(std::set<FileOp> ops, int error);
    ~KindFault();
    KindFault(const KindFault&) = delete;
    KindFault& operator=(const KindFault&) = delete;
};

// The operations that change a file: what a read-only folder refuses.
std::set<FileOp> changingOperations();

// Names in a folder that are temporary files of an atomic write.
std::vector<std::string> temporaryFilesIn(const std::filesystem::path& folder);

// A tmpfs of a given size mounted on a folder for the life of the object, as a small
// disk that can fill up or be made read-only. Mounting needs root and the right to
// mount; when refused, mounted() is false and reason() says why.
class SmallFileSystem {
public:
    SmallFileSystem(const std::filesystem::path& folder, std::size_t kilobytes);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool mounted() const { return m_mounted; }
    const std::string& reason() const { return m_reason; }
    // Remounts read-only; false with reason() set when refused.
    bool makeReadOnly();

private:
    std::filesystem::path m_folder;
    bool m_mounted = false;
    std::string m_reason;
};

// The name of an errno value for messages of the tests ("EIO").
std::string errorName(int error);

} // namespace chwr::test
