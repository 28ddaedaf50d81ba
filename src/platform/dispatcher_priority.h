#pragma once

#include "platform/result.h"

namespace platform {

enum class ThreadPriority {
    Background, // below the usual: takes what the work beside it leaves (nice 10)
    Idle,       // the lowest there is (nice 19)
};

// Lowers the scheduling priority of the calling thread only, the way this system does it;
// the dispatcher's lowerThisThreadPriority() is the one caller.
Result<> lowerCallingThreadPriority(ThreadPriority priority);

} // namespace platform
