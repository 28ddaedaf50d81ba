#include "platform/dispatcher_priority.h"

#include <cerrno>

#include <sys/resource.h>
#include <unistd.h>

namespace platform {

Result<> lowerCallingThreadPriority(ThreadPriority priority) {
    const int nice = priority == ThreadPriority::Idle ? 19 : 10;
    // On Linux each thread has a nice value of its own, named by the thread's id.
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), nice) != 0)
        return errnoFailure(errno, QString(), QStringLiteral("setpriority"));
    return {};
}

} // namespace platform
