#include "platform/files.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <ranges>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {

namespace {

std::unexpected<Error> fsFailure(const std::error_code& ec, const QString& path, const char* call) {
    const int code = ec.category() == std::generic_category() ? ec.value() : 0;
    std::unexpected<Error> failed =
        failure(QString::fromLocal8Bit(ec.message()), path, QString::fromLatin1(call), code);
    if (code == ENOENT)
        failed.error().kind = ErrorKind::NotFound;
    return failed;
}

} // namespace

fs::path toFsPath(const QString& path) {
    return fs::path(QFile::encodeName(path).toStdString());
}

QString fromFsPath(const fs::path& path) {
    return QFile::decodeName(QByteArray(path.c_str()));
}

bool pathExists(const QString& path) {
    struct stat st;
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

bool entryExists(const QString& path) {
    struct stat st;
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

bool isNonDirectoryEntry(const QString& path) {
    struct stat st;
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &st) == 0 &&
           !S_ISDIR(st.st_mode);
}

bool isDirectory(const QString& path) {
    struct stat st;
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 &&
           S_ISDIR(st.st_mode);
}

Result<> checkDirectoryWritable(const QString& path) {
    // Search and write: both are needed to create an entry. AT_EACCESS: the rights this process
    // acts with, as an open would.
    if (::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), W_OK | X_OK, AT_EACCESS) != 0)
        return errnoFailure(errno, path, QStringLiteral("faccessat"));
    return {};
}

bool isExecutableFile(const QString& path) {
    struct stat st;
    const QByteArray p = QFile::encodeName(path);
    return !path.isEmpty() && ::stat(p.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(p.constData(), X_OK) == 0;
}

Result<> createDirectories(const QString& path) {
    std::error_code ec;
    fs::create_directories(toFsPath(path), ec);
    if (ec)
        return fsFailure(ec, path, "mkdir");
    // create_directories reports no error when a non-directory is in the way of the last
    // component; the caller asked for a directory.
    if (!isDirectory(path))
        return errnoFailure(ENOTDIR, path, QStringLiteral("mkdir"));
    return {};
}

Result<> writeTextAtomically(const QString& path, const QString& text) {
    const QString call = QStringLiteral("write");
    QSaveFile file(path);
    // Write through the temporary file even where the directory denies it, so that an
    // unwritable directory is reported rather than silently written in place.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return failure(file.errorString(), path, call);
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size()) {
        QString error = file.errorString();
        file.cancelWriting();
        return failure(error, path, call);
    }
    if (!file.commit())
        return failure(file.errorString(), path, call);
    return {};
}

Result<> writeTextAtomicallyIfChanged(const QString& path, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    if (QFile file(path);
        file.size() == bytes.size() && file.open(QIODevice::ReadOnly) && file.readAll() == bytes)
        return {};
    return writeTextAtomically(path, text);
}

Result<> writeTextAtomicallyUnsynced(const QString& path, const QString& text) {
    const QString call = QStringLiteral("write");
    // A name of its own beside the target, created with the modes any new file gets.
    static std::atomic<unsigned> counter{0};
    const QByteArray temporary = QFile::encodeName(path) + '.' + QByteArray::number(::getpid()) +
                                 '.' + QByteArray::number(counter.fetch_add(1)) + ".tmp";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return errnoFailure(errno, path, call);
    const QByteArray bytes = text.toUtf8();
    qsizetype written = 0;
    int error = 0;
    while (written < bytes.size() && error == 0) {
        const ssize_t n =
            ::write(fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        if (n > 0)
            written += n;
        else if (n == 0)
            error = EIO;
        else if (errno != EINTR)
            error = errno;
    }
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return errnoFailure(error, path, error == errno ? QStringLiteral("rename") : call);
    }
    return {};
}

std::optional<QString> decodeUtf8(const QByteArray& bytes) {
    // A leading byte order mark stays in the text: nothing read is silently dropped, and a
    // pid file that starts with one is no plain number.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

Result<QString> readUtf8File(const QString& path) {
    const QString call = QStringLiteral("read");
    if (!pathExists(path))
        return errnoFailure(ENOENT, path, call);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failure(file.errorString(), path, call);
    if (QFileInfo(path).isDir())
        return errnoFailure(EISDIR, path, call);
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return failure(file.errorString(), path, call);
    std::optional<QString> text = decodeUtf8(bytes);
    if (!text)
        return failure(ErrorKind::Corrupt, QStringLiteral("not valid UTF-8"), path, call);
    return *std::move(text);
}

Result<> removePath(const QString& path) {
    std::error_code ec;
    fs::remove_all(toFsPath(path), ec);
    if (ec)
        return fsFailure(ec, path, "remove");
    return {};
}

Result<> mirrorAsLinks(const QString& from, const QString& to,
                       const std::function<bool(const QString& name)>& keep) {
    if (Result<> made = createDirectories(to); !made)
        return made;
    std::error_code ec;
    // The links wanted, by name.
    std::map<QString, fs::path> wanted;
    const fs::path source = toFsPath(from);
    if (fs::is_directory(source, ec)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(source, ec)) {
            const QString name = fromFsPath(entry.path().filename());
            if (keep(name))
                wanted.emplace(name, fs::absolute(entry.path()));
        }
        if (ec)
            return fsFailure(ec, from, "opendir");
    }
    const fs::path target = toFsPath(to);
    std::vector<fs::path> stale;
    for (const fs::directory_entry& entry : fs::directory_iterator(target, ec)) {
        const auto found = wanted.find(fromFsPath(entry.path().filename()));
        std::error_code linkError;
        if (found != wanted.end() && entry.is_symlink(linkError) &&
            fs::read_symlink(entry.path(), linkError) == found->second)
            wanted.erase(found); // already as it must be
        else if (found == wanted.end())
            stale.push_back(entry.path());
    }
    if (ec)
        return fsFailure(ec, to, "opendir");
    for (const fs::path& path : stale) {
        if (fs::remove_all(path, ec); ec)
            return fsFailure(ec, fromFsPath(path), "remove");
    }
    for (const auto& [name, points] : wanted) {
        const fs::path temporary =
            target / toFsPath(QStringLiteral(".") + name + QStringLiteral(".new"));
        fs::remove(temporary, ec);
        if (fs::create_symlink(points, temporary, ec); ec)
            return fsFailure(ec, fromFsPath(temporary), "symlink");
        if (Result<> renamed = renamePath(fromFsPath(temporary), to + QLatin1Char('/') + name);
            !renamed)
            return renamed;
    }
    return {};
}

Result<> copyTree(const QString& from, const QString& to) {
    std::error_code ec;
    const fs::path src = toFsPath(from);
    const fs::path dst = toFsPath(to);
    auto copyFailure = [&] { return fsFailure(ec, from, "copy"); };
    // Directories get their own modes only at the end, so that a read-only directory of the
    // source can still be filled in the copy.
    std::vector<std::pair<fs::path, fs::perms>> directoryModes;
    auto makeDirectory = [&](const fs::path& target, const fs::path& source) {
        fs::create_directory(target, ec);
        if (ec)
            return;
        const fs::perms mode = fs::status(source, ec).permissions();
        if (ec)
            return;
        directoryModes.emplace_back(target, mode);
        fs::permissions(target, mode | fs::perms::owner_all, ec);
    };
    makeDirectory(dst, src);
    if (ec)
        return copyFailure();
    fs::recursive_directory_iterator it(src, fs::directory_options::none, ec);
    if (ec)
        return copyFailure();
    // The iterator ends itself on an error (an unreadable directory, say): the error is
    // checked after every step, before the end test, or a partial copy would count as whole.
    for (const fs::recursive_directory_iterator end; it != end;) {
        // Lexical: a link to a directory must not be resolved to its target's name.
        const fs::path target = dst / it->path().lexically_relative(src);
        const fs::file_status st = it->symlink_status(ec);
        if (ec)
            return copyFailure();
        if (fs::is_symlink(st)) {
            fs::copy_symlink(it->path(), target, ec);
        } else if (fs::is_directory(st)) {
            makeDirectory(target, it->path());
        } else {
            fs::copy_file(it->path(), target, fs::copy_options::none, ec);
            if (!ec)
                fs::permissions(target, st.permissions(), ec);
        }
        if (ec)
            return copyFailure();
        it.increment(ec);
        if (ec)
            return copyFailure();
    }
    for (const auto& [directory, mode] : std::ranges::reverse_view(directoryModes)) {
        fs::permissions(directory, mode, ec);
        if (ec)
            return copyFailure();
    }
    return {};
}

Result<> renamePath(const QString& from, const QString& to) {
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return errnoFailure(errno, from, QStringLiteral("rename"));
    return {};
}

Result<FileSystemSpace> fileSystemSpace(const QString& path) {
    struct statvfs info {};
    if (::statvfs(QFile::encodeName(path).constData(), &info) != 0)
        return errnoFailure(errno, path, QStringLiteral("statvfs"));
    const long double unit = info.f_frsize ? info.f_frsize : info.f_bsize;
    return FileSystemSpace{static_cast<long double>(info.f_bavail) * unit,
                           static_cast<long double>(info.f_blocks) * unit};
}

Utf8LocaleScope::Utf8LocaleScope() {
    m_locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (m_locale)
        m_previous = uselocale(m_locale);
}

Utf8LocaleScope::~Utf8LocaleScope() {
    if (m_locale) {
        uselocale(m_previous);
        freelocale(m_locale);
    }
}

} // namespace platform
