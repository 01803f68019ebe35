// Linked into chwr_faulty, a copy of chwr that the reliability tests run as a user
// would, with faults asked for through the environment:
//   CHWR_FAIL_STEP=K      the K-th file operation of the run fails (counted from 1)
//   CHWR_FAIL_CHANGES=1   every operation that changes a file fails
//   CHWR_FAIL_ERRNO=N     the errno they fail with (EIO when unset)
// Each injected failure is noted on standard error as "injected: OPERATION PATH".

#include "shell/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int numberFromEnvironment(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    return std::atoi(text);
}

struct FaultFromEnvironment {
    FaultFromEnvironment()
    {
        const int step = numberFromEnvironment("CHWR_FAIL_STEP", 0);
        const bool changes = numberFromEnvironment("CHWR_FAIL_CHANGES", 0) != 0;
        const int error = numberFromEnvironment("CHWR_FAIL_ERRNO", EIO);
        if (step <= 0 && !changes)
            return;
        chwr::setFileFaultHook(
            [step, changes, error, seen = 0](chwr::FileOp op, const std::filesystem::path& path) mutable {
                ++seen;
                const bool changing = op == chwr::FileOp::OpenWrite || op == chwr::FileOp::Write ||
                                      op == chwr::FileOp::Rename || op == chwr::FileOp::Remove ||
                                      op == chwr::FileOp::Copy || op == chwr::FileOp::Link;
                if (seen != step && !(changes && changing))
                    return 0;
                std::fprintf(stderr, "injected: %s %s\n", chwr::fileOpName(op), path.c_str());
                return error;
            });
    }
};

const FaultFromEnvironment installed;

} // namespace
