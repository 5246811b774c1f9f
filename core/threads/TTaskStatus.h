#pragma once

namespace dv {

// State of a work item or of a thread.
enum class TTaskStatus
{
    Created = 0,
    WaitingToRun = 1,
    Running = 2,
    Paused = 3,
    Completed = 4,
    Canceled = 5
};

// Queue priority of a work item.
enum class TPriority
{
    Highest = 0,
    Normal = 1
};

} // namespace dv
