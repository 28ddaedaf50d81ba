#include "update_test_support.h"

#include "test_support.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTimer>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <memory>

#include <zlib.h>

#include <cerrno>
#include <cstring>

#include <grp.h>
#include <pwd.h>
#include <sys/mount.h>
#include <unistd.h>

namespace updatetest {

SmallFileSystem::SmallFileSystem(QString dir, const QString& size) : m_dir(std::move(dir)) {
    const QByteArray options = QStringLiteral("size=%1").arg(size).toLatin1();
    if (::mount("tmpfs", QFile::encodeName(m_dir).constData(), "tmpfs", 0, options.constData()) !=
        0)
        m_failure = QStringLiteral("cannot mount a small tmpfs here (%1): the test needs root "
                                   "and a system that allows mounts")
                        .arg(QString::fromLocal8Bit(std::strerror(errno)));
}

SmallFileSystem::~SmallFileSystem() {
    if (mounted())
        ::umount2(QFile::encodeName(m_dir).constData(), MNT_DETACH);
}

RunAsNobody::RunAsNobody() {
    if (::geteuid() != 0) {
        m_failure = QStringLiteral("the test runs as a user, not as root");
        return;
    }
    const passwd* user = ::getpwnam("nobody");
    const group* nogroup = ::getgrnam("nogroup");
    const uid_t uid = user ? user->pw_uid : uid_t(65534);
    const gid_t gid = nogroup ? nogroup->gr_gid : gid_t(65534);
    m_groups.resize(static_cast<size_t>(std::max(::getgroups(0, nullptr), 0)));
    m_groups.resize(static_cast<size_t>(
        std::max(::getgroups(static_cast<int>(m_groups.size()), m_groups.data()), 0)));
    // glibc applies each call to every thread of the process. The saved ids stay root's, so
    // that the destructor may take them back.
    if (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, 0) != 0 ||
        ::setresuid(uid, uid, 0) != 0) {
        m_failure = QStringLiteral("cannot become nobody: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::setresuid(0, 0, 0);
        ::setresgid(0, 0, 0);
    }
}

RunAsNobody::~RunAsNobody() {
    if (!holds())
        return;
    if (::setresuid(0, 0, 0) != 0 || ::setresgid(0, 0, 0) != 0)
        qFatal("cannot become root again: %s", std::strerror(errno));
    ::setgroups(m_groups.size(), m_groups.data());
}

namespace {

struct Item {
    QString name;
    QByteArray data; // a file's contents or a link's target
    int type;        // AE_IFDIR, AE_IFLNK or AE_IFREG
};

Item parse(const QString& item) {
    if (item.endsWith(QLatin1Char('/')))
        return {item, {}, AE_IFDIR};
    if (const qsizetype arrow = item.indexOf(QStringLiteral("->")); arrow > 0)
        return {item.left(arrow), item.mid(arrow + 2).toUtf8(), AE_IFLNK};
    const qsizetype eq = item.indexOf(QLatin1Char('='));
    return {item.left(eq), item.mid(eq + 1).toUtf8(), AE_IFREG};
}

} // namespace

void makeTree(const QString& root, const QStringList& layout) {
    QDir().mkpath(root);
    for (const QString& line : layout) {
        const Item item = parse(line);
        const QString path = root + QLatin1Char('/') + item.name;
        if (item.type == AE_IFDIR)
            QDir().mkpath(path);
        else if (item.type == AE_IFLNK)
            QFile::link(QString::fromUtf8(item.data), path);
        else
            testing::writeFile(path, item.data);
    }
}

QByteArray writeZip(const QString& path, const QStringList& layout,
                    const QMap<QString, int>& modes) {
    QDir().mkpath(QFileInfo(path).path());
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    if (archive_write_open_filename(a, QFile::encodeName(path).constData()) != ARCHIVE_OK)
        qFatal("cannot create %s: %s", qPrintable(path), archive_error_string(a));
    for (const QString& line : layout) {
        const Item item = parse(line);
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname_utf8(entry, item.name.toUtf8().constData());
        archive_entry_set_mtime(entry, 1700000000, 0);
        archive_entry_set_filetype(entry, static_cast<unsigned>(item.type));
        archive_entry_set_perm(entry, static_cast<mode_t>(modes.value(
                                          item.name, item.type == AE_IFREG ? 0644 : 0755)));
        if (item.type == AE_IFREG)
            archive_entry_set_size(entry, item.data.size());
        if (item.type == AE_IFLNK)
            archive_entry_set_symlink_utf8(entry, item.data.constData());
        if (archive_write_header(a, entry) < ARCHIVE_WARN)
            qFatal("zip header %s: %s", qPrintable(item.name), archive_error_string(a));
        if (item.type == AE_IFREG && !item.data.isEmpty())
            archive_write_data(a, item.data.constData(), static_cast<size_t>(item.data.size()));
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
    return testing::readFile(path);
}

namespace {

void put16(QByteArray& out, quint32 v) {
    out.append(char(v & 0xff)).append(char((v >> 8) & 0xff));
}
void put32(QByteArray& out, quint32 v) {
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

QByteArray rawDeflate(const QByteArray& data) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(static_cast<qsizetype>(deflateBound(&z, static_cast<uLong>(data.size()))),
                   Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.truncate(static_cast<qsizetype>(z.total_out));
    deflateEnd(&z);
    return out;
}

} // namespace

QByteArray rawZip(const QList<RawZipEntry>& entries) {
    QByteArray out;
    QByteArray central;
    for (const RawZipEntry& e : entries) {
        const QByteArray name = e.name.toUtf8();
        quint32 crc = static_cast<quint32>(
            crc32(0, reinterpret_cast<const Bytef*>(e.data.constData()), uInt(e.data.size())));
        if (e.wrongChecksum)
            crc ^= 0x5a5a5a5a;
        QByteArray payload = e.deflate ? rawDeflate(e.data) : e.data;
        if (e.flippedByte >= 0)
            payload[e.flippedByte] = char(~payload[e.flippedByte]);
        const quint32 size = e.declaredSize.value_or(quint32(e.data.size()));
        // Shared by both headers from "version needed" to the name's length.
        QByteArray common;
        put16(common, 20);                // version needed
        put16(common, 0x0800);            // names in UTF-8
        put16(common, e.deflate ? 8 : 0); // method
        put16(common, 0);                 // time
        put16(common, 0x5821);            // date (2024-01-01)
        put32(common, crc);
        put32(common, quint32(payload.size()));
        put32(common, size);
        put16(common, quint16(name.size()));
        put16(common, 0); // extra field length

        const quint32 offset = quint32(out.size());
        put32(out, 0x04034b50);
        out += common + name + payload;

        put32(central, 0x02014b50);
        put16(central, (3 << 8) | 20); // made by: Unix
        central += common;
        put16(central, 0);              // comment length
        put16(central, 0);              // disk
        put16(central, 0);              // internal attributes
        put32(central, 0100644u << 16); // external attributes: a plain file, 0644
        put32(central, offset);
        central += name;
    }
    const quint32 centralOffset = quint32(out.size());
    out += central;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, quint16(entries.size()));
    put16(out, quint16(entries.size()));
    put32(out, quint32(central.size()));
    put32(out, centralOffset);
    put16(out, 0);
    return out;
}

QStringList describe(const QString& dir) {
    QStringList out;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = QDir(dir).relativeFilePath(path);
        char target[4096];
        const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
        if (n >= 0)
            out.push_back(name + QStringLiteral("->") + QString::fromUtf8(target, n));
        else if (QFileInfo(path).isDir())
            out.push_back(name + QLatin1Char('/'));
        else
            out.push_back(name + QLatin1Char('=') + QString::fromUtf8(testing::readFile(path)));
    }
    out.sort();
    return out;
}

LocalHttpServer::LocalHttpServer() {
    connect(&m_server, &QTcpServer::newConnection, this, &LocalHttpServer::onConnection);
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        qFatal("cannot listen on 127.0.0.1: %s", qPrintable(m_server.errorString()));
}

QString LocalHttpServer::archiveUrl() const {
    return QStringLiteral("http://127.0.0.1:%1/zelto-update.zip").arg(m_server.serverPort());
}

void LocalHttpServer::onConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this,
                [this, socket, request = std::make_shared<QByteArray>()] {
                    if (request->contains("\r\n\r\n"))
                        return; // answered already
                    *request += socket->readAll();
                    if (!request->contains("\r\n\r\n"))
                        return;
                    requestTargets.push_back(QString::fromUtf8(
                        request->left(request->indexOf("\r\n")).split(' ').value(1)));
                    // The socket is the timer's context: no answer to a closed connection.
                    QTimer::singleShot(response.delayMs, socket,
                                       [this, socket, r = response] { answer(socket, r); });
                });
    }
}

void LocalHttpServer::answer(QTcpSocket* socket, const Response& r) {
    // The body is streamed from a file or a buffer without holding a file in memory: the
    // socket is refilled whenever its buffer has drained below a few chunks.
    std::shared_ptr<QIODevice> source;
    if (r.bodyFile.isEmpty())
        source = std::make_shared<QBuffer>();
    else
        source = std::make_shared<QFile>(r.bodyFile);
    if (auto* buffer = qobject_cast<QBuffer*>(source.get()))
        buffer->setData(r.body);
    if (!source->open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(r.bodyFile));
    const qint64 length = source->size();
    socket->write("HTTP/1.1 " + QByteArray::number(r.status) +
                  " Status\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                  QByteArray::number(length) + "\r\nConnection: close\r\n" + r.headers + "\r\n");
    const bool stall = r.stallAfter >= 0;
    const qint64 limit = stall ? std::min(r.stallAfter, length) : length;
    auto sent = std::make_shared<qint64>(0);
    auto closing = std::make_shared<bool>(false);
    const int pause = r.chunkDelayMs;
    auto refill = [socket, source, sent, closing, limit, stall, pause] {
        while (*sent < limit && socket->bytesToWrite() < (4 << 20)) {
            const qint64 piece = pause > 0 ? (64 << 10) : (1 << 20);
            const QByteArray chunk = source->read(std::min<qint64>(piece, limit - *sent));
            if (chunk.isEmpty())
                break;
            socket->write(chunk);
            *sent += chunk.size();
            if (pause > 0)
                break;
        }
        // Everything is queued: the socket closes once it has been written.
        if (*sent >= limit && !stall && !*closing) {
            *closing = true;
            socket->disconnectFromHost();
        }
    };
    if (pause > 0) {
        // One piece per tick; the timer belongs to the socket and ends with it.
        auto* ticker = new QTimer(socket);
        connect(ticker, &QTimer::timeout, socket, refill);
        ticker->start(pause);
    } else {
        connect(socket, &QTcpSocket::bytesWritten, socket, refill);
    }
    refill();
}

} // namespace updatetest
