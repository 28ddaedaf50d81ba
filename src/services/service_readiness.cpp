#include "services/service_readiness.h"

using namespace platform;

QString startFailureEntry(const QString& label, quint16 port, const platform::ReadinessResult& result,
                          std::chrono::milliseconds limit, const QString& logName,
                          const QStringList& logLines) {
    const QString head = label + QStringLiteral(": 启动失败: ");
    if (result.holder)
        return head + QStringLiteral("端口 ") + QString::number(port) + QStringLiteral(" 已被 ") +
               describePortHolder(*result.holder) + QStringLiteral(" 占用");
    const QString what =
        result.state == Readiness::Ended
            ? QStringLiteral("服务器启动后即退出")
            : QStringLiteral("服务器 %1 秒内未在端口 %2 响应")
                  .arg(std::chrono::duration_cast<std::chrono::seconds>(limit).count())
                  .arg(port);
    // One line, so that the error notice, which shows whole lines, shows the cause too.
    if (logLines.isEmpty())
        return head + what + QStringLiteral("，") + logName + QStringLiteral(" 中没有新内容");
    return head + what + QStringLiteral("，") + logName + QStringLiteral(": ") +
           logLines.join(QStringLiteral(" | "));
}

QString stopFailureEntry(const QString& label, quint16 port, const platform::PortHolder& holder) {
    return label + QStringLiteral(": 停止失败: 端口 ") + QString::number(port) +
           QStringLiteral(" 仍被 ") + describePortHolder(holder) + QStringLiteral(" 占用");
}
