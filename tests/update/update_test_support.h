#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTcpServer>

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
// The entries below dir as a sorted layout.
QStringList describe(const QString& dir);

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
