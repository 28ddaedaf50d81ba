#pragma once

#include "core/panel_view_model.h"
#include "platform/platform.h"
#include "test_support.h"

#include <QString>
#include <QStringList>

#include <sys/types.h>

// Shell scripts standing in for the runtime's programs and the system tools, each recording
// how it was called into a records directory: one line per call, the working directory and
// then every argument, separated by "|".
class FakeStack {
public:
    FakeStack(const QString& panelRoot, const QString& recordDir);
    ~FakeStack(); // ends every fake server still running

    QString phpPath(const QString& version) const;
    // A PHP built-in server stand-in: prints its arguments to its log, then runs until
    // it is sent SIGTERM. It binds its port after ZELTO_FAKE_PHP_BIND_DELAY seconds (0 when
    // unset).
    void installPhpServer(const QString& version) const;
    // A file that is marked executable but is no program ("Exec format error").
    void installGarbagePhp(const QString& version) const;
    // mysqld (records and returns, as --daemonize does), mysql_install_db (records, prints
    // installReport() and creates data/mysql) and mysqladmin (records).
    void installDatabase() const;
    // pkill records its arguments.
    SystemTools tools() const;

    QStringList calls(const QString& program) const;
    // Pids of fake PHP servers (or, from "mysqld-pids", database servers) started so far.
    QList<pid_t> serverPids(const QString& list = QStringLiteral("php-pids")) const;
    static QString installReport();

private:
    QString recorder(const QString& program) const;

    QString m_root;
    QString m_records;
};

// A sandbox whose panel root holds the fake stack. rootName empty: the installed root;
// otherwise a directory of that name picked by the user (no runtime is shipped).
struct ServiceFixture {
    explicit ServiceFixture(const QString& rootName = {});
    // (Re)creates the model from the sandbox as it is now.
    std::shared_ptr<PanelViewModel> makeModel() { return model = sandbox.makeModel(config); }

    // The stand-ins listen on free ports in place of the fixed ones (told through the
    // environment, ZELTO_FAKE_PORT_<fixed port>), and the model looks for them there.
    PanelConfig config;

    TestSandbox sandbox;
    const QString root;
    FakeStack stack;
    std::shared_ptr<PanelViewModel> model;
};

// A script standing in for a server: it keeps running until signalled (or for ten minutes, longer
// than any test on a loaded machine), with its own command line intact. Started detached;
// returns its pid.
pid_t startSleeper(const QString& scriptPath, const QStringList& args);

// True for the report of a status refresh.
inline bool isStatusText(const QString& text) {
    return text.startsWith(QStringLiteral("=== 服务状态 ==="));
}

// Every text the log shows from now on, in order (an assignment of the same text again is not
// seen).
struct LogRecorder {
    explicit LogRecorder(PanelViewModel* model) : m_last(model->logs()) {
        m_connection = QObject::connect(model, &PanelViewModel::changed, model, [this, model] {
            if (model->logs() != m_last)
                texts.push_back(m_last = model->logs());
        });
    }
    ~LogRecorder() { QObject::disconnect(m_connection); }
    LogRecorder(const LogRecorder&) = delete;
    LogRecorder& operator=(const LogRecorder&) = delete;
    // The texts without the status reports.
    QStringList stagesAfterStatus() const {
        QStringList stages = texts;
        stages.removeIf(isStatusText);
        return stages;
    }
    QStringList texts;

private:
    QString m_last;
    QMetaObject::Connection m_connection;
};
