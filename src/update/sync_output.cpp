#include "update/sync_output.h"

#include "core/process_helpers.h"
#include "platform/files.h"

#include <cmath>
#include <limits>
#include <optional>

namespace update {

QString processOutcomeText(const QString& executable, double timeoutSeconds,
                           const Result<platform::ChildExit>& result) {
    if (!result)
        return core::processReportText(result);
    QString output = core::processReportText(result);
    if (result->timedOut) {
        const double whole = std::trunc(timeoutSeconds);
        const QString seconds = QString::number(static_cast<qint64>(whole));
        return QStringLiteral("timeout: ") + executable + QStringLiteral(" 超过 ") + seconds +
               QStringLiteral(" 秒，已强制结束\n解压日志:\n") + output;
    }
    // A failed run reads as one even when it printed nothing.
    if (result->exitStatus != 0)
        return QStringLiteral("exit(") + QString::number(result->exitStatus) +
               QStringLiteral("): ") + output;
    return output;
}

bool rsyncOutputIndicatesHardFailure(const QString& text) {
    const QString t = core::trimmedText(text);
    if (t.isEmpty())
        return false;
    const QString l = t.toLower();
    // The tool could not be started at all.
    if (t.startsWith(QStringLiteral("执行失败:")))
        return true;
    if (l.startsWith(QLatin1String("timeout:")))
        return true;
    if (l.contains(QLatin1String("timeout:")) && l.contains(QStringLiteral("超过")))
        return true;
    if (l.startsWith(QLatin1String("exit("))) {
        const qsizetype close = t.indexOf(QLatin1Char(')'));
        if (close > 5) {
            if (auto status = core::parseDecimalInteger(QStringView(t).mid(5, close - 5)))
                return *status != 0 && *status != 24;
        }
    }
    return l.contains(QLatin1String("rsync error")) || l.contains(QLatin1String("error:")) ||
           l.contains(QLatin1String("failed")) || l.contains(QLatin1String("cannot "));
}

} // namespace update
