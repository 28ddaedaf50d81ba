#include "update/generation.h"

#include "core/diagnostics.h"
#include "platform/file_copy.h"
#include "platform/file_descriptor.h"
#include "platform/files.h"
#include "update/set_aside.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using platform::DirStream;
using platform::FileDescriptor;

// The failure of a system call on path (a byte path below the site).
std::unexpected<Error> pathFailure(const std::string& path, int code, const char* call) {
    return platform::errnoFailure(code, QFile::decodeName(QByteArray::fromStdString(path)),
                                  QString::fromLatin1(call));
}

// Copies the regular file name of from into to, keeping its mode and times; the errno of the
// step that failed, or 0.
int copyFile(int from, int to, const char* name, const struct stat& st) {
    const FileDescriptor in(::openat(from, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!in.isOpen())
        return errno;
    const FileDescriptor out(
        ::openat(to, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777));
    if (!out.isOpen())
        return errno;
    if (const int code = platform::copyFileContents(in.get(), out.get(), st.st_size); code != 0)
        return code;
    ::fchmod(out.get(), st.st_mode & 07777);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out.get(), times);
    return 0;
}

// Makes the entry name of from (a link or a regular file) anew in to, where the file system
// refused a hard link with code: the errno of the step that failed, or 0.
int copyInstead(int from, int to, const char* name, const struct stat& st, int code) {
    // Links across file systems, or past the link limit, become copies; a link to a link is
    // then made anew.
    if (code != EXDEV && code != EMLINK && code != EPERM)
        return code;
    if (S_ISREG(st.st_mode))
        return copyFile(from, to, name, st);
    char target[4096];
    const ssize_t n = ::readlinkat(from, name, target, sizeof target - 1);
    if (n < 0)
        return errno;
    target[n] = '\0';
    return ::symlinkat(target, to, name) == 0 ? 0 : errno;
}

// Fills the (new, empty) directory to with the contents of from; path names from in errors.
// At the top, a directory named "Data" is left out.
Result<> linkTree(int from, int to, const std::string& path, bool top) {
    const DirStream dir = DirStream::duplicateOf(from);
    if (!dir.isOpen())
        return pathFailure(path, errno, "opendir");
    errno = 0;
    while (dirent* e = ::readdir(dir.get())) {
        const char* name = e->d_name;
        if (!std::strcmp(name, ".") || !std::strcmp(name, ".."))
            continue;
        const std::string entryPath = path + '/' + name;
        struct stat st;
        if (::fstatat(from, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return pathFailure(entryPath, errno, "stat");
        if (S_ISDIR(st.st_mode)) {
            if (top && !std::strcmp(name, "Data"))
                continue;
            if (::mkdirat(to, name, 0700) != 0)
                return pathFailure(entryPath, errno, "mkdir");
            const FileDescriptor sub(
                ::openat(from, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
            const FileDescriptor made(
                ::openat(to, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
            if (!sub.isOpen() || !made.isOpen())
                return pathFailure(entryPath, errno, "open");
            if (Result<> filled = linkTree(sub.get(), made.get(), entryPath, false); !filled)
                return filled;
            // Modes and times last: filling the directory changed its times.
            ::fchmod(made.get(), st.st_mode & 07777);
            const timespec times[2] = {st.st_atim, st.st_mtim};
            ::futimens(made.get(), times);
        } else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
            if (::linkat(from, name, to, name, 0) == 0)
                continue;
            if (const int copied = copyInstead(from, to, name, st, errno); copied != 0)
                return pathFailure(entryPath, copied, "link");
        }
        // Sockets, pipes and devices are no part of a site.
        errno = 0;
    }
    if (errno != 0)
        return pathFailure(path, errno, "readdir");
    return {};
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
    Result<> linked;
    {
        const FileDescriptor from(::open(siteName.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const FileDescriptor to(::open(copyName.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!from.isOpen() || !to.isOpen())
            linked = pathFailure(siteName.toStdString(), errno, "open");
        else
            linked = linkTree(from.get(), to.get(), siteName.toStdString(), true);
        if (linked) {
            ::fchmod(to.get(), st.st_mode & 07777);
            const timespec times[2] = {st.st_atim, st.st_mtim};
            ::futimens(to.get(), times);
        }
    }
    if (!linked) {
        reportIgnored(platform::removePath(copy), "remove an unfinished site generation");
        return linked;
    }
    return {};
}

Result<QString> replaceSiteGeneration(const QString& copy, const QString& generation) {
    Result<QString> old = setAside(generation);
    if (!old)
        return old;
    if (Result<> moved = platform::renamePath(copy, generation); !moved) {
        // The generation there was stays what it was.
        if (!old->isEmpty())
            reportIgnored(platform::renamePath(*old, generation),
                          "put the previous site generation back");
        return std::unexpected(moved.error());
    }
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
    if (!old->isEmpty())
        removeSetAside({*old});
    return {};
}

} // namespace update
