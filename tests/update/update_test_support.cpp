#include "update_test_support.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace updatetest {

namespace {

QByteArray linkTarget(const QString& path) {
    char buf[4096];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buf, sizeof buf);
    return n > 0 ? QByteArray(buf, static_cast<int>(n)) : QByteArray();
}

} // namespace

ZipEntry file(const QString& name, const QByteArray& data, int mode) {
    return {name, data, ZipEntry::File, mode};
}

ZipEntry directory(const QString& name) {
    return {name, {}, ZipEntry::Directory, 0755};
}

ZipEntry symlink(const QString& name, const QString& target) {
    return {name, target.toUtf8(), ZipEntry::Symlink, 0777};
}

void writeZip(const QString& path, const std::vector<ZipEntry>& entries) {
    QDir().mkpath(QFileInfo(path).path());
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    if (archive_write_open_filename(a, QFile::encodeName(path).constData()) != ARCHIVE_OK)
        qFatal("cannot create %s: %s", qPrintable(path), archive_error_string(a));
    for (const ZipEntry& e : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname_utf8(entry, e.name.toUtf8().constData());
        archive_entry_set_mtime(entry, 1700000000, 0);
        switch (e.kind) {
        case ZipEntry::File:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, e.data.size());
            break;
        case ZipEntry::Directory:
            archive_entry_set_filetype(entry, AE_IFDIR);
            break;
        case ZipEntry::Symlink:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink_utf8(entry, e.data.constData());
            break;
        }
        archive_entry_set_perm(entry, static_cast<mode_t>(e.mode));
        if (archive_write_header(a, entry) < ARCHIVE_WARN)
            qFatal("zip header %s: %s", qPrintable(e.name), archive_error_string(a));
        if (e.kind == ZipEntry::File && !e.data.isEmpty())
            archive_write_data(a, e.data.constData(), static_cast<size_t>(e.data.size()));
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
}

void zipDirectory(const QString& dir, const QString& zipPath) {
    std::vector<ZipEntry> entries;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    QStringList paths;
    while (it.hasNext())
        paths.push_back(it.next());
    paths.sort(); // parents before their contents
    const QDir base(dir);
    for (const QString& p : paths) {
        const QFileInfo info(p);
        const QString name = base.relativeFilePath(p);
        if (info.isSymLink()) {
            entries.push_back(symlink(name, QString::fromUtf8(linkTarget(p))));
        } else if (info.isDir()) {
            entries.push_back(directory(name + QLatin1Char('/')));
        } else {
            QFile f(p);
            f.open(QIODevice::ReadOnly);
            struct stat st;
            ::stat(QFile::encodeName(p).constData(), &st);
            entries.push_back(file(name, f.readAll(), st.st_mode & 07777));
        }
    }
    writeZip(zipPath, entries);
}

QMap<QString, QByteArray> snapshot(const QString& dir) {
    QMap<QString, QByteArray> result;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QDir base(dir);
    while (it.hasNext()) {
        const QString p = it.next();
        const QFileInfo info(p);
        const QString rel = base.relativeFilePath(p);
        if (info.isSymLink()) {
            result.insert(rel, "link:" + linkTarget(p));
        } else if (info.isDir()) {
            result.insert(rel, "dir");
        } else {
            QFile f(p);
            f.open(QIODevice::ReadOnly);
            result.insert(rel, "file:" + f.readAll());
        }
    }
    return result;
}

QStringList listTree(const QString& dir) {
    QStringList names = snapshot(dir).keys();
    names.sort();
    return names;
}

LocalHttpServer::LocalHttpServer() {
    connect(&m_server, &QTcpServer::newConnection, this, &LocalHttpServer::onConnection);
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        qFatal("cannot listen on 127.0.0.1: %s", qPrintable(m_server.errorString()));
}

LocalHttpServer::~LocalHttpServer() = default;

QString LocalHttpServer::archiveUrl() const {
    return QStringLiteral("http://127.0.0.1:%1/zelto-update.zip").arg(port());
}

void LocalHttpServer::onConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        socket->setProperty("request", QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadable(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void LocalHttpServer::onReadable(QTcpSocket* socket) {
    QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    socket->setProperty("request", request);
    if (socket->property("answered").toBool() || !request.contains("\r\n\r\n"))
        return;
    socket->setProperty("answered", true);
    const QList<QByteArray> requestLine = request.left(request.indexOf("\r\n")).split(' ');
    const QString target = QString::fromUtf8(requestLine.value(1));
    requestTargets.push_back(target);
    const Response r = routes.value(target.section(QLatin1Char('?'), 0, 0), response);
    if (r.delayMs > 0) {
        QPointer<QTcpSocket> guarded(socket);
        QTimer::singleShot(r.delayMs, this, [this, guarded, r] {
            if (guarded)
                answer(guarded, r);
        });
    } else {
        answer(socket, r);
    }
}

void LocalHttpServer::answer(QTcpSocket* socket, const Response& r) {
    std::shared_ptr<QFile> source;
    qint64 length = r.body.size();
    if (!r.bodyFile.isEmpty()) {
        source = std::make_shared<QFile>(r.bodyFile);
        if (!source->open(QIODevice::ReadOnly))
            qFatal("cannot read %s", qPrintable(r.bodyFile));
        length = source->size();
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + " Status\r\n" +
                      "Content-Type: application/octet-stream\r\n" +
                      "Content-Length: " + QByteArray::number(length) + "\r\n";
    if (!r.location.isEmpty())
        head += "Location: " + r.location + "\r\n";
    head += "Connection: close\r\n\r\n";
    socket->write(head);

    const qint64 limit = r.stallAfter >= 0 ? std::min(r.stallAfter, length) : length;
    if (!source) {
        socket->write(r.body.left(limit));
        if (r.stallAfter < 0)
            socket->disconnectFromHost();
        return;
    }
    // Stream the file without holding it in memory: refill whenever the socket's buffer has
    // drained below a few chunks.
    auto sent = std::make_shared<qint64>(0);
    auto closing = std::make_shared<bool>(false);
    auto refill = [socket, source, sent, closing, limit, stall = r.stallAfter >= 0] {
        while (*sent < limit && socket->bytesToWrite() < (4 << 20)) {
            const QByteArray chunk = source->read(std::min<qint64>(1 << 20, limit - *sent));
            if (chunk.isEmpty())
                break;
            socket->write(chunk);
            *sent += chunk.size();
        }
        // Everything is queued: the socket closes once it has been written.
        if (*sent >= limit && !stall && !*closing) {
            *closing = true;
            socket->disconnectFromHost();
        }
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, refill);
    refill();
}

} // namespace updatetest
