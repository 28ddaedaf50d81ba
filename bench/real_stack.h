#pragma once
// What the benchmarks that run the real servers check before they start.

#include "test_support.h"

#include <QFileInfo>
#include <QString>

#include <cstdio>
#include <optional>

namespace bench {

// The assembled runtime to copy (ZELTO_RUNTIME_DIR, else the build's own) when it is there and
// the three fixed ports are free; otherwise nothing, after saying why on standard error.
inline std::optional<QString> realStackRuntime() {
    QString runtime = qEnvironmentVariable("ZELTO_RUNTIME_DIR");
    if (runtime.isEmpty())
        runtime = QStringLiteral(ZELTO_DEFAULT_RUNTIME_DIR);
    if (!QFileInfo::exists(runtime + QStringLiteral("/mysql/bin/mysqld"))) {
        std::fprintf(stderr, "no assembled runtime at %s\n", qPrintable(runtime));
        return std::nullopt;
    }
    for (const int port : {3306, 8000, 900}) {
        if (testing::portAnswers(port)) {
            std::fprintf(stderr, "port %d is taken: hold the ports' lock, stop what runs there\n",
                         port);
            return std::nullopt;
        }
    }
    return runtime;
}

} // namespace bench
