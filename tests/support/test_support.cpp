#include "test_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

TestSandbox::TestSandbox() {
    QDir().mkpath(appDir());
}

Platform TestSandbox::platform() const {
    Platform p;
    std::optional<QString> resources = resourceDir();
    if (resourcePathOverride)
        resources = resourcePathOverride;
    if (noResourcePath)
        resources = std::nullopt;
    p.locations = fixedAppLocations(appDir(), resources);
    p.preferences = preferences;
    p.desktop = desktop;
    p.tools = tools;
    const QDateTime now = fixedNow;
    p.clock = [now] { return now.isValid() ? now : QDateTime::currentDateTime(); };
    const QString arch = architecture;
    p.machineArchitecture = [arch] { return arch; };
    p.dispatcher = qtDispatcher();
    return p;
}

std::shared_ptr<PanelViewModel> TestSandbox::makeModel(PanelConfig config) const {
    return PanelViewModel::create(platform(), std::move(config));
}

namespace testing {

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    f.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void writeScript(const QString& path, const QString& body) {
    writeFile(path, QByteArray("#!/bin/sh\n") + body.toUtf8() + '\n');
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                    QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                    QFile::ExeOther);
}

void makeValidRoot(const QString& root) {
    writeScript(root + QStringLiteral("/runtime/mysql/bin/mysqld"), QStringLiteral("exit 0"));
    QDir().mkpath(root + QStringLiteral("/runtime/php"));
    QDir().mkpath(root + QStringLiteral("/runtime/phpmyadmin"));
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(5);
    }
    return true;
}

} // namespace testing
