#include "platform/file_copy.h"

#include <cerrno>
#include <cstddef>

#include <unistd.h>

namespace platform {

int copyFileContents(int in, int out, off_t size) {
    for (off_t left = size; left > 0;) {
        // In the kernel, and shared on file systems that can (reflinks, server-side copies).
        const ssize_t n =
            ::copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(left), 0);
        if (n < 0) {
            // Kernels and file systems that cannot copy between these two files (across file
            // systems, which is when the panel copies at all, before Linux 5.3 and again for
            // some pairs since 5.19) say so before anything is written.
            const int code = errno;
            if (left == size &&
                (code == EXDEV || code == ENOSYS || code == EOPNOTSUPP || code == EINVAL))
                return copyFileContentsByReading(in, out, size);
            return code;
        }
        if (n == 0)
            break;
        left -= n;
    }
    return 0;
}

} // namespace platform
