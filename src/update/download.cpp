#include "update/download.h"

#include "core/panel_view_model.h"

#include <QEventLoop>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>

#include <cerrno>
#include <memory>

namespace update {

namespace {

// Errors of the network layer (connection, time-out, TLS, redirects: codes 1 to 99) mean that
// no response arrived whole. Every other error of a reply that carries an HTTP status is that
// status (400, 404, 407, 418, 500, a 3xx that leads nowhere...): the response arrived, and its
// body is stored like any other.
bool isTransportError(QNetworkReply::NetworkError error) {
    const int code = static_cast<int>(error);
    return code >= 1 && code <= 99;
}

} // namespace

QUrl updateZipDownloadURLFor(const QUrl& base, const QDateTime& now) {
    const QString date = QLocale::c().toString(now.date(), QStringLiteral("yyyyMMdd"));
    const QUrl url(base.toString(QUrl::FullyEncoded) + QStringLiteral("?t=") + date,
                   QUrl::StrictMode);
    return url.isValid() ? url : base;
}

namespace {

constexpr int kMaxRedirects = 20;

struct Hop {
    std::optional<Error> failure;
    QUrl redirect; // valid: the response was a redirect to this address
};

// One GET of url whose body goes into file, unless the response is a redirect with a
// Location (its body is dropped then). Redirects are followed here rather than by the network
// library, which would also swallow the body of a 3xx that leads nowhere.
Hop fetch(QNetworkAccessManager& manager, const QUrl& url, QSaveFile& file, int stallSeconds,
          const DownloadProgress& progress) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    if (stallSeconds > 0)
        request.setTransferTimeout(stallSeconds * 1000);
    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    // Keeps a large archive from piling up in memory: the socket is read as fast as the body
    // reaches the disk.
    reply->setReadBufferSize(1 << 20);

    const QString call = QStringLiteral("download");
    Hop hop;
    std::optional<Error> writeError;
    bool abortedByUs = false;
    bool redirecting = false;
    auto onMetaData = [&] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QUrl location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        redirecting = status >= 300 && status < 400 && location.isValid() && !location.isEmpty();
        if (redirecting)
            hop.redirect = url.resolved(location);
    };
    auto drain = [&] {
        while (!writeError && reply->bytesAvailable() > 0) {
            const QByteArray chunk = reply->read(1 << 20);
            if (redirecting)
                continue;
            if (file.write(chunk) != chunk.size()) {
                writeError = Error{file.errorString(), file.fileName(), call};
                abortedByUs = true;
                reply->abort();
            }
        }
    };
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, onMetaData);
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, drain);
    if (progress) {
        QObject::connect(reply.get(), &QNetworkReply::downloadProgress, &loop,
                         [&](qint64 received, qint64 total) {
                             if (!redirecting)
                                 progress(received, total);
                         });
    }
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    onMetaData();
    drain();

    const QNetworkReply::NetworkError error = reply->error();
    const bool gotResponse = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    hop.failure = writeError;
    if (!hop.failure && error != QNetworkReply::NoError &&
        (!gotResponse || isTransportError(error))) {
        if (!abortedByUs && (error == QNetworkReply::OperationCanceledError ||
                             error == QNetworkReply::TimeoutError))
            hop.failure = Error{reply->errorString(),
                                url.toString(QUrl::FullyEncoded),
                                call,
                                0,
                                ErrorKind::Stalled,
                                0};
        else
            hop.failure = Error{reply->errorString(), url.toString(QUrl::FullyEncoded), call};
    }
    if (hop.failure)
        hop.redirect = QUrl();
    return hop;
}

} // namespace

Result<> downloadToFile(const QUrl& url, const QString& path, int stallSeconds,
                        const DownloadProgress& progress) {
    const QString call = QStringLiteral("download");
    QNetworkAccessManager manager;
    QUrl current = url;
    for (int redirects = 0;; ++redirects) {
        QSaveFile file(path);
        file.setDirectWriteFallback(false);
        if (!file.open(QIODevice::WriteOnly))
            return failure(file.errorString(), path, call);
        const Hop hop = fetch(manager, current, file, stallSeconds, progress);
        if (hop.failure) {
            file.cancelWriting();
            return std::unexpected(*hop.failure);
        }
        if (!hop.redirect.isValid()) {
            if (!file.commit())
                return failure(file.errorString(), path, call);
            return {};
        }
        file.cancelWriting();
        const QString target = hop.redirect.toString();
        const QString scheme = hop.redirect.scheme();
        if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
            return failure(QStringLiteral("Redirect to an unsupported address: ") + target, target,
                           call);
        if (current.scheme() == QLatin1String("https") && scheme == QLatin1String("http"))
            return failure(QStringLiteral("Insecure redirect to ") + target, target, call);
        if (redirects >= kMaxRedirects)
            return failure(QStringLiteral("Too many redirects"), target, call);
        current = hop.redirect;
    }
}

} // namespace update

// --- PanelViewModel: update download ---

QUrl PanelViewModel::updateZipDownloadURL() const {
    return update::updateZipDownloadURLFor(m_updateZipBaseURL, m_platform.clock());
}
