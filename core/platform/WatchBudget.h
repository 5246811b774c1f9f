#pragma once

namespace dv {

// The process's share of the user's inotify watches (fs.inotify.max_user_watches), counted
// across every change watcher of the program, so that watching a large result tree leaves
// half of the limit to the user's other programs (and room for the folder tree's few
// watches). Thread-safe.
class WatchBudget
{
public:
    // Takes one watch if Used + pReserve stays below the limit.
    static bool Acquire(int pReserve = 0);
    static void Release();

    // The limit: the system's, or the one set for tests.
    static int Limit();
    static int Used();
    // Watches a recursive watcher leaves free for others: half of the limit.
    static int SharedReserve();

    // Tests: a small limit instead of the system's (0 restores the system's).
    static void SetLimit(int pLimit);
};

} // namespace dv
