#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A user of the command-line panel: a temporary directory holding an application directory
// (app/) with a copy of zelto-panel-cli, the installed root beside it (Zelto-panel/), and a
// home and configuration of its own, without a display. With the assembled runtime, app/
// carries it as its resources, as an installation does.
class CliSandbox {
public:
    // nameTemplate: the temporary directory's path template (QTemporaryDir's), e.g. one with
    // spaces and Chinese characters; empty: the default.
    explicit CliSandbox(bool withRuntime, const QString& nameTemplate = {});

    bool isValid() const { return m_valid; }
    QString base() const { return m_dir.path(); }
    QString appDir() const { return base() + QStringLiteral("/app"); }
    QString installedRoot() const { return base() + QStringLiteral("/Zelto-panel"); }
    // The environment the program runs with.
    QProcessEnvironment environment() const { return m_env; }

    struct Run {
        int exitCode = -1; // -1: did not end normally; -2: a sanitizer reported a finding
        QByteArray out;
        QByteArray err;
        // stdout as one JSON object (an empty object when it is not one).
        QJsonObject json() const;
        QString outText() const { return QString::fromUtf8(out); }
        QString errText() const { return QString::fromUtf8(err); }
    };
    // Runs the program with args and waits, serving the test's event loop meanwhile.
    Run run(const QStringList& args, const QString& workingDirectory = {},
            int timeoutMs = 240000) const;
    // Runs it on a pseudo-terminal of the given width (through script(1)); what it wrote to
    // the terminal is in out. Nothing run (exit code -1) where script is missing.
    Run runOnTerminal(const QStringList& args, int columns) const;

private:
    Run runProgram(const QString& program, const QStringList& args, const QString& workingDirectory,
                   int timeoutMs) const;

    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
    bool m_valid = false;
};
