#include "platform/result.h"

#include <cerrno>
#include <cstring>

QString Error::context() const {
    QString text;
    if (!call.isEmpty())
        text += call + QLatin1Char(' ');
    if (!path.isEmpty())
        text += path;
    if (!text.isEmpty())
        text = text.trimmed() + QStringLiteral(": ");
    return text + message;
}

namespace platform {

QString errnoText(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

std::unexpected<Error> errnoFailure(int code, QString path, QString call) {
    std::unexpected<Error> failed =
        failure(errnoText(code), std::move(path), std::move(call), code);
    if (code == ENOENT)
        failed.error().kind = ErrorKind::NotFound;
    return failed;
}

} // namespace platform
