#include "update/download.h"

#include "core/panel_view_model.h"

#include <QEventLoop>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>

#include <memory>

namespace {

// Content (2xx) and server (4xx) errors are HTTP statuses of a response that did arrive whole;
// its body is what the caller asked for.
bool isHttpStatusError(QNetworkReply::NetworkError error) {
    const int code = static_cast<int>(error);
    return (code >= 201 && code <= 299) || (code >= 401 && code <= 499);
}

} // namespace

QUrl updateZipDownloadURLFor(const QUrl& base, const QDateTime& now) {
    const QString date = QLocale::c().toString(now.date(), QStringLiteral("yyyyMMdd"));
    const QUrl url(base.toString(QUrl::FullyEncoded) + QStringLiteral("?t=") + date,
                   QUrl::StrictMode);
    return url.isValid() ? url : base;
}

std::optional<QString> downloadToFile(const QUrl& url, const QString& path, int stallSeconds) {
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();

    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    if (stallSeconds > 0)
        request.setTransferTimeout(stallSeconds * 1000);
    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    // Keeps a large archive from piling up in memory: the socket is read as fast as the body
    // reaches the disk.
    reply->setReadBufferSize(1 << 20);

    std::optional<QString> writeError;
    bool abortedByUs = false;
    auto drain = [&] {
        while (!writeError && reply->bytesAvailable() > 0) {
            const QByteArray chunk = reply->read(1 << 20);
            if (file.write(chunk) != chunk.size()) {
                writeError = file.errorString();
                abortedByUs = true;
                reply->abort();
            }
        }
    };
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, drain);
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    drain();

    const QNetworkReply::NetworkError error = reply->error();
    const bool gotResponse = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    std::optional<QString> failure = writeError;
    if (!failure && error != QNetworkReply::NoError && !(gotResponse && isHttpStatusError(error))) {
        if (!abortedByUs && (error == QNetworkReply::OperationCanceledError ||
                             error == QNetworkReply::TimeoutError))
            failure = QStringLiteral("下载超时: %1 秒内未收到任何数据").arg(stallSeconds);
        else
            failure = reply->errorString();
    }
    reply.reset();

    if (failure) {
        file.cancelWriting();
        return failure;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

// --- PanelViewModel: update download ---

QUrl PanelViewModel::updateZipDownloadURL() const {
    return updateZipDownloadURLFor(m_updateZipBaseURL, m_platform.clock());
}
