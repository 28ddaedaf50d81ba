#include "platform/dispatcher_priority.h"

#include <pthread.h>
#include <sched.h>

namespace platform {

// POSIX has no nice value per thread (setpriority() would lower the whole process); the
// thread's scheduling priority within its policy is the portable lever. Idle takes the
// policy's lowest; Background the point halfway down from the thread's current one.
Result<> lowerCallingThreadPriority(ThreadPriority priority) {
    int policy = 0;
    sched_param param{};
    if (const int e = ::pthread_getschedparam(::pthread_self(), &policy, &param); e != 0)
        return errnoFailure(e, QString(), QStringLiteral("pthread_getschedparam"));
    const int lowest = ::sched_get_priority_min(policy);
    param.sched_priority =
        priority == ThreadPriority::Idle ? lowest : lowest + (param.sched_priority - lowest) / 2;
    if (const int e = ::pthread_setschedparam(::pthread_self(), policy, &param); e != 0)
        return errnoFailure(e, QString(), QStringLiteral("pthread_setschedparam"));
    return {};
}

} // namespace platform
