#include "platform/file_copy.h"

#include <array>
#include <cerrno>
#include <cstddef>

#include <unistd.h>

namespace platform {

int copyFileContentsByReading(int in, int out, off_t size) {
    std::array<char, std::size_t{64} * 1024> buffer{};
    for (off_t left = size; left > 0;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            break;
        for (ssize_t written = 0; written < n;) {
            const ssize_t w =
                ::write(out, buffer.data() + written, static_cast<size_t>(n - written));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            written += w;
        }
        left -= n;
    }
    return 0;
}

} // namespace platform
