#include "cli_sandbox.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QTimer>

CliSandbox::CliSandbox(bool withRuntime, const QString& nameTemplate)
    : m_dir(nameTemplate.isEmpty()
                ? QDir::tempPath() + QLatin1Char('/') + QCoreApplication::applicationName() +
                      QStringLiteral("-XXXXXX")
                : nameTemplate) {
    if (!m_dir.isValid() || !QDir().mkpath(appDir()))
        return;
    // A copy, not a link: the application directory is where the program's file really is.
    if (!QFile::copy(QStringLiteral(ZELTO_CLI_PATH), appDir() + QStringLiteral("/zelto-panel-cli")))
        return;
    if (withRuntime) {
        const QString runtime = qEnvironmentVariable("ZELTO_RUNTIME_DIR");
        if (runtime.isEmpty() ||
            !QFile::link(QFileInfo(runtime).path(), appDir() + QStringLiteral("/resources")))
            return;
    }
    m_env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_CONFIG_HOME", "HOME"})
        m_env.remove(QString::fromLatin1(name));
    m_env.insert(QStringLiteral("HOME"), base() + QStringLiteral("/home"));
    m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), base() + QStringLiteral("/config"));
    m_valid = true;
}

QJsonObject CliSandbox::Run::json() const {
    return QJsonDocument::fromJson(out).object();
}

CliSandbox::Run CliSandbox::run(const QStringList& args, const QString& workingDirectory,
                                int timeoutMs) const {
    return runProgram(appDir() + QStringLiteral("/zelto-panel-cli"), args, workingDirectory,
                      timeoutMs);
}

CliSandbox::Run CliSandbox::runOnTerminal(const QStringList& args, int columns) const {
    const QString script = QStringLiteral("/usr/bin/script");
    if (!QFileInfo(script).isExecutable())
        return {};
    const auto quoted = [](QString word) {
        return QLatin1Char('\'') + word.replace(QLatin1Char('\''), QStringLiteral("'\\''")) +
               QLatin1Char('\'');
    };
    QString command = QStringLiteral("stty cols %1 && ").arg(columns) +
                      quoted(appDir() + QStringLiteral("/zelto-panel-cli"));
    for (const QString& arg : args)
        command += QLatin1Char(' ') + quoted(arg);
    return runProgram(script, {QStringLiteral("-qec"), command, QStringLiteral("/dev/null")}, {},
                      240000);
}

CliSandbox::Run CliSandbox::runProgram(const QString& program, const QStringList& args,
                                       const QString& workingDirectory, int timeoutMs) const {
    QProcess process;
    process.setProcessEnvironment(m_env);
    process.setWorkingDirectory(workingDirectory.isEmpty() ? base() : workingDirectory);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    process.start(program, args);
    loop.exec();
    Run result;
    if (process.error() == QProcess::FailedToStart) {
        result.err = "could not start";
        return result;
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        result.err = "timed out";
        return result;
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    // In a sanitizer build a finding may end the program with the very status a test expects
    // (1); it must fail the test instead.
    for (const char* finding :
         {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", ": runtime error: "}) {
        if (result.err.contains(finding)) {
            qWarning().noquote() << QString::fromUtf8(result.err);
            result.exitCode = -2;
        }
    }
    return result;
}
