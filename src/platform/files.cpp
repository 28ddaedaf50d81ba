#include "files.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path toFs(const QString& path) {
    return fs::path(QFile::encodeName(path).toStdString());
}

QString describe(const std::error_code& ec) {
    return QString::fromLocal8Bit(ec.message());
}

QString errnoText(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

bool pathExists(const QString& path) {
    struct stat st;
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

bool isDirectory(const QString& path) {
    struct stat st;
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 &&
           S_ISDIR(st.st_mode);
}

bool isExecutableFile(const QString& path) {
    struct stat st;
    const QByteArray p = QFile::encodeName(path);
    return !path.isEmpty() && ::stat(p.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(p.constData(), X_OK) == 0;
}

QString createDirectories(const QString& path) {
    std::error_code ec;
    fs::create_directories(toFs(path), ec);
    if (ec)
        return describe(ec);
    // create_directories reports no error when a non-directory is in the way of the last
    // component; the caller asked for a directory.
    if (!isDirectory(path))
        return errnoText(ENOTDIR);
    return {};
}

QString writeTextAtomically(const QString& path, const QString& text) {
    QSaveFile file(path);
    // Write through the temporary file even where the directory denies it, so that an
    // unwritable directory is reported rather than silently written in place.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size()) {
        QString error = file.errorString();
        file.cancelWriting();
        return error;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

std::optional<QString> readUtf8File(const QString& path) {
    if (!pathExists(path))
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    if (QFileInfo(path).isDir())
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString removePath(const QString& path) {
    std::error_code ec;
    fs::remove_all(toFs(path), ec);
    return ec ? describe(ec) : QString();
}

QString copyTree(const QString& from, const QString& to) {
    std::error_code ec;
    const fs::path src = toFs(from);
    const fs::path dst = toFs(to);
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
        return describe(ec);
    fs::recursive_directory_iterator it(src, fs::directory_options::none, ec);
    if (ec)
        return describe(ec);
    // The iterator ends itself on an error (an unreadable directory, say): the error is
    // checked after every step, before the end test, or a partial copy would count as whole.
    for (const fs::recursive_directory_iterator end; it != end;) {
        // Lexical: a link to a directory must not be resolved to its target's name.
        const fs::path target = dst / it->path().lexically_relative(src);
        const fs::file_status st = it->symlink_status(ec);
        if (ec)
            return describe(ec);
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
            return describe(ec);
        it.increment(ec);
        if (ec)
            return describe(ec);
    }
    for (auto i = directoryModes.rbegin(); i != directoryModes.rend(); ++i) {
        fs::permissions(i->first, i->second, ec);
        if (ec)
            return describe(ec);
    }
    return {};
}

QString renamePath(const QString& from, const QString& to) {
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return errnoText(errno);
    return {};
}
