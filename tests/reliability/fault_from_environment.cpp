// Linked into chwr_faulty, a copy of chwr that the reliability tests run as a user
// would, with faults asked for through the environment:
//   CHWR_FAIL_STEP=K      the K-th file operation of the run fails (counted from 1)
//   CHWR_FAIL_CHANGES=1   every operation but reading fails, as in a read-only folder
//   CHWR_FAIL_ERRNO=N     the errno they fail with (EIO when unset)
// Each injected failure is noted on standard error as "injected: OPERATION: PATH".

#include "shell/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

int fromEnvironment(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    return text && *text ? std::atoi(text) : fallback;
}

const bool installed = [] {
    const int step = fromEnvironment("CHWR_FAIL_STEP", 0);
    const bool changes = fromEnvironment("CHWR_FAIL_CHANGES", 0) != 0;
    const int error = fromEnvironment("CHWR_FAIL_ERRNO", EIO);
    if (step > 0 || changes) {
        chwr::setFileFaultHook([=, seen = 0](chwr::FileOp op, const std::filesystem::path& path) mutable {
            const bool reading = op == chwr::FileOp::OpenRead || op == chwr::FileOp::Read;
            if (++seen != step && !(changes && !reading))
                return 0;
            std::fprintf(stderr, "injected: %s: %s\n", chwr::fileOpName(op), path.c_str());
            return error;
        });
    }
    return true;
}();

} // namespace
