#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTcpServer>

#include <vector>

class QTcpSocket;

namespace updatetest {

// One entry of a ZIP archive built by a test. Names are written as given (hostile ones
// included).
struct ZipEntry {
    enum Kind { File, Directory, Symlink };
    QString name;
    QByteArray data; // file contents, or the link's target
    Kind kind = File;
    int mode = 0644;
};

ZipEntry file(const QString& name, const QByteArray& data = "x", int mode = 0644);
ZipEntry directory(const QString& name);
ZipEntry symlink(const QString& name, const QString& target);

// Writes a ZIP archive with the entries in order.
void writeZip(const QString& path, const std::vector<ZipEntry>& entries);
// Writes a ZIP archive of every file, directory and link below dir (names relative to dir).
void zipDirectory(const QString& dir, const QString& zipPath);

// Every entry below dir: relative path -> "dir", "file:" + contents or "link:" + target.
QMap<QString, QByteArray> snapshot(const QString& dir);
// The relative paths below dir, sorted.
QStringList listTree(const QString& dir);

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
        QByteArray location;    // Location header (for redirects)
    };

    LocalHttpServer();
    ~LocalHttpServer() override;

    quint16 port() const { return m_server.serverPort(); }
    // http://127.0.0.1:PORT/zelto-update.zip
    QString archiveUrl() const;

    Response response;              // for every path without a route
    QMap<QString, Response> routes; // by path, without the query
    QStringList requestTargets;     // request targets received, in order

private:
    void onConnection();
    void onReadable(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Response& r);

    QTcpServer m_server;
};

} // namespace updatetest
