#include "update/generation.h"

#include "core/diagnostics.h"
#include "platform/files.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// "path: system text", the form in which a failure reaches the report.
QString failureText(const std::string& path, int code) {
    return QFile::decodeName(QByteArray::fromStdString(path)) + QStringLiteral(": ") +
           platform::errnoText(code);
}

// Copies the regular file name of from into to, keeping its mode and times.
int copyFile(int from, int to, const char* name, const struct stat& st) {
    Fd in(::openat(from, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (in.fd < 0)
        return errno;
    Fd out(::openat(to, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777));
    if (out.fd < 0)
        return errno;
    for (off_t left = st.st_size; left > 0;) {
        const ssize_t n =
            ::copy_file_range(in.fd, nullptr, out.fd, nullptr, static_cast<size_t>(left), 0);
        if (n < 0)
            return errno;
        if (n == 0)
            break;
        left -= n;
    }
    ::fchmod(out.fd, st.st_mode & 07777);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out.fd, times);
    return 0;
}

// Fills the (new, empty) directory to with the contents of from; path names from in errors.
// At the top, a directory named "Data" is left out.
QString linkTree(int from, int to, const std::string& path, bool top) {
    DIR* dir = ::fdopendir(::dup(from));
    if (!dir)
        return failureText(path, errno);
    QString error;
    errno = 0;
    while (dirent* e = ::readdir(dir)) {
        const char* name = e->d_name;
        if (!std::strcmp(name, ".") || !std::strcmp(name, ".."))
            continue;
        struct stat st;
        if (::fstatat(from, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            error = failureText(path + '/' + name, errno);
            break;
        }
        if (S_ISDIR(st.st_mode)) {
            if (top && !std::strcmp(name, "Data"))
                continue;
            if (::mkdirat(to, name, 0700) != 0) {
                error = failureText(path + '/' + name, errno);
                break;
            }
            Fd sub(::openat(from, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
            Fd made(::openat(to, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
            if (sub.fd < 0 || made.fd < 0) {
                error = failureText(path + '/' + name, errno);
                break;
            }
            error = linkTree(sub.fd, made.fd, path + '/' + name, false);
            if (!error.isEmpty())
                break;
            // Modes and times last: filling the directory changed its times.
            ::fchmod(made.fd, st.st_mode & 07777);
            const timespec times[2] = {st.st_atim, st.st_mtim};
            ::futimens(made.fd, times);
        } else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
            if (::linkat(from, name, to, name, 0) == 0)
                continue;
            const int code = errno;
            // Links across file systems, or past the link limit, become copies; a link to a
            // link is then made anew.
            int copied = code;
            if (code == EXDEV || code == EMLINK || code == EPERM) {
                if (S_ISREG(st.st_mode)) {
                    copied = copyFile(from, to, name, st);
                } else {
                    char target[4096];
                    const ssize_t n = ::readlinkat(from, name, target, sizeof target - 1);
                    copied = n < 0 ? errno : 0;
                    if (n >= 0) {
                        target[n] = '\0';
                        copied = ::symlinkat(target, to, name) == 0 ? 0 : errno;
                    }
                }
            }
            if (copied != 0) {
                error = failureText(path + '/' + name, copied);
                break;
            }
        }
        // Sockets, pipes and devices are no part of a site.
        errno = 0;
    }
    if (error.isEmpty() && errno != 0)
        error = failureText(path, errno);
    ::closedir(dir);
    return error;
}

} // namespace

namespace update {

Result<> linkSiteCopy(const QString& site, const QString& copy) {
    if (Result<> removed = platform::removePath(copy); !removed)
        return removed;
    const QByteArray siteName = QFile::encodeName(site);
    const QByteArray copyName = QFile::encodeName(copy);
    struct stat st;
    if (::stat(siteName.constData(), &st) != 0)
        return platform::errnoFailure(errno, site, QStringLiteral("stat"));
    if (::mkdir(copyName.constData(), 0700) != 0)
        return platform::errnoFailure(errno, copy, QStringLiteral("mkdir"));
    QString error;
    {
        Fd from(::open(siteName.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        Fd to(::open(copyName.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (from.fd < 0 || to.fd < 0)
            error = failureText(siteName.toStdString(), errno);
        else
            error = linkTree(from.fd, to.fd, siteName.toStdString(), true);
        if (error.isEmpty()) {
            ::fchmod(to.fd, st.st_mode & 07777);
            const timespec times[2] = {st.st_atim, st.st_mtim};
            ::futimens(to.fd, times);
        }
    }
    if (!error.isEmpty()) {
        reportIgnored(platform::removePath(copy), "remove an unfinished site generation");
        return failure(error, site, QStringLiteral("link"));
    }
    return {};
}

Result<QString> replaceSiteGeneration(const QString& copy, const QString& generation) {
    const QString old = generation + QStringLiteral(".old");
    if (Result<> removed = platform::removePath(old); !removed)
        return std::unexpected(removed.error());
    if (platform::pathExists(generation)) {
        if (Result<> moved = platform::renamePath(generation, old); !moved)
            return std::unexpected(moved.error());
    }
    if (Result<> moved = platform::renamePath(copy, generation); !moved)
        return std::unexpected(moved.error());
    return old;
}

Result<> keepSiteGeneration(const QString& site, const QString& generation) {
    const QString copy = generation + QStringLiteral(".new");
    if (Result<> made = linkSiteCopy(site, copy); !made)
        return made;
    const Result<QString> old = replaceSiteGeneration(copy, generation);
    if (!old) {
        reportIgnored(platform::removePath(copy), "remove an unfinished site generation");
        return std::unexpected(old.error());
    }
    return platform::removePath(*old);
}

} // namespace update
