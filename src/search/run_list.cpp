#include "search/run_list.h"

std::vector<RunMembers> formRuns(const FileTable& files, CheckMode mode, const std::atomic<bool>* abortFlag)
{
    std::vector<RunMembers> runs;
    const auto count = static_cast<int32_t>(files.size());
    if (count < 1)
        return runs;
    RunMembers run {0};
    int64_t key = runKey(files[0], mode);
    int32_t i = 1;
    for (;;) {
        while (i < count && runKey(files[i], mode) == key) {
            if (static_cast<int32_t>(run.size()) < kMaxGroup)
                run.push_back(i);
            else
                run.back() = i; // a full run's last slot follows the stretch
            ++i;
        }
        if (run.size() > 1)
            runs.push_back(run);
        if (i < count) {
            key = runKey(files[i], mode);
            run.assign(1, i);
            ++i;
        }
        if ((abortFlag && abortFlag->load(std::memory_order_relaxed)) || i >= count)
            break;
    }
    return runs;
}
