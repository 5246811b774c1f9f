#include "core/platform/WatchBudget.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace dv {

namespace {

std::atomic<int> gUsed{0};
std::atomic<int> gLimit{0}; // 0: not read yet

int SystemLimit()
{
    int limit = 8192; // the kernel's old default, when the setting cannot be read
    if (FILE *f = std::fopen("/proc/sys/fs/inotify/max_user_watches", "re")) {
        int value = 0;
        if (std::fscanf(f, "%d", &value) == 1 && value > 0)
            limit = value;
        std::fclose(f);
    }
    return limit;
}

} // namespace

int WatchBudget::Limit()
{
    int limit = gLimit.load();
    if (limit == 0) {
        limit = SystemLimit();
        gLimit.store(limit);
    }
    return limit;
}

int WatchBudget::Used()
{
    return gUsed.load();
}

int WatchBudget::SharedReserve()
{
    // The limit is the user's, for all programs: at least half of it stays theirs.
    const int limit = Limit();
    return limit - limit / 2;
}

bool WatchBudget::Acquire(int pReserve)
{
    const int limit = Limit();
    int used = gUsed.load();
    do {
        if (used + 1 + pReserve > limit)
            return false;
    } while (!gUsed.compare_exchange_weak(used, used + 1));
    return true;
}

void WatchBudget::Release()
{
    gUsed.fetch_sub(1);
}

void WatchBudget::SetLimit(int pLimit)
{
    gLimit.store(pLimit > 0 ? pLimit : SystemLimit());
}

} // namespace dv
