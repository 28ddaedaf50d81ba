#include "cli/output.h"

#include <QJsonDocument>

namespace cli {

QString programName() {
    return QStringLiteral("zelto-panel-cli");
}

void writeText(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    if (!text.endsWith(QLatin1Char('\n')))
        std::fputc('\n', stream);
    std::fflush(stream);
}

void writeJson(FILE* stream, const QJsonObject& object) {
    writeText(stream, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)));
}

} // namespace cli
