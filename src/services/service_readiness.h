#pragma once

#include "platform/readiness.h"

#include <QString>
#include <QStringList>

// Texts that name why a service did not come up or did not go away.

// Why a launched server is not ready: the other program on its port when there is one,
// otherwise the lines the server wrote to its log during this launch (at most five, oldest
// first). "<label>: 启动失败: <cause>".
QString startFailureEntry(const QString& label, quint16 port, const platform::ReadinessResult& result,
                          std::chrono::milliseconds limit, const QString& logName,
                          const QStringList& logLines);

// "<label>: 停止失败: 端口 <port> 仍被 <holder> 占用".
QString stopFailureEntry(const QString& label, quint16 port, const platform::PortHolder& holder);
