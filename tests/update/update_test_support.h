#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTcpServer>

#include <optional>
#include <utility>
#include <vector>

#include <sys/types.h>

class QTcpSocket;

namespace updatetest {

// Layouts of files for a test: "path/" is a directory, "path=contents" a file,
// "path->target" a link, and a plain path a file holding its own path.

// Creates the layout below root.
void makeTree(const QString& root, const QStringList& layout);
// Writes a ZIP archive of the layout, entries in order and names as given (hostile ones
// included), with the modes given by name (others 0644, directories 0755); returns its bytes.
QByteArray writeZip(const QString& path, const QStringList& layout,
                    const QMap<QString, int>& modes = {});
// One file of a hand-made ZIP archive whose headers may lie about its data.
struct RawZipEntry {
    RawZipEntry(QString name, QByteArray data, bool deflate = false)
        : name(std::move(name)), data(std::move(data)), deflate(deflate) {}
    // The headers declare this uncompressed size.
    RawZipEntry declaring(quint32 size) const {
        RawZipEntry e = *this;
        e.declaredSize = size;
        return e;
    }
    // The headers carry a checksum that the data does not have.
    RawZipEntry withWrongChecksum() const {
        RawZipEntry e = *this;
        e.wrongChecksum = true;
        return e;
    }
    // This byte of the stored data is inverted after the checksum was taken.
    RawZipEntry flipping(qsizetype index) const {
        RawZipEntry e = *this;
        e.flippedByte = index;
        return e;
    }

    QString name;
    QByteArray data;
    bool deflate = false;
    std::optional<quint32> declaredSize;
    bool wrongChecksum = false;
    qsizetype flippedByte = -1;
};
// The bytes of a ZIP archive of these files (local headers, data, central directory).
QByteArray rawZip(const QList<RawZipEntry>& entries);

// The entries below dir as a sorted layout.
QStringList describe(const QString& dir);

// A tmpfs of the given size (mount's "size=" option, e.g. "16m") mounted on the existing
// directory dir while this lives. Tests run as root; elsewhere the mount fails and
// failure() says why, for a QSKIP.
class SmallFileSystem {
public:
    SmallFileSystem(QString dir, const QString& size);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;
    bool mounted() const { return m_failure.isEmpty(); }
    QString failure() const { return m_failure; }

private:
    QString m_dir;
    QString m_failure;
};

// While it lives, the whole process (every thread, and the children it starts) runs as the
// user "nobody" (group "nogroup", no supplementary groups), so that file modes and
// ownership bar it as they bar a user; then it is root again. For a test running as root;
// holds() is false, with the reason in failure(), where that cannot be done.
class RunAsNobody {
public:
    RunAsNobody();
    ~RunAsNobody();
    RunAsNobody(const RunAsNobody&) = delete;
    RunAsNobody& operator=(const RunAsNobody&) = delete;
    bool holds() const { return m_failure.isEmpty(); }
    QString failure() const { return m_failure; }

private:
    QString m_failure;
    std::vector<gid_t> m_groups; // root's, given back
};

// A small HTTP/1.1 server on 127.0.0.1 (random port) that answers every GET with the
// configured response. It runs on the thread that owns it; the panel downloads on a worker,
// so the test's event loop serves.
class LocalHttpServer : public QObject {
    Q_OBJECT
public:
    struct Response {
        int status = 200;
        QByteArray body;
        QString bodyFile;       // streamed from this file instead of body
        qint64 stallAfter = -1; // send the full length header, this many bytes, then nothing
        int delayMs = 0;        // wait this long before answering
        QByteArray headers;     // further header lines, each ending in "\r\n"
        int chunkDelayMs = 0;   // send the body in 64 KiB pieces this far apart
    };

    LocalHttpServer();

    // http://127.0.0.1:PORT/zelto-update.zip
    QString archiveUrl() const;

    Response response;          // for every request
    QStringList requestTargets; // request targets received, in order

private:
    void onConnection();
    void answer(QTcpSocket* socket, const Response& r);

    QTcpServer m_server;
};

} // namespace updatetest
