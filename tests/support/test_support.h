#pragma once

#include "core/panel_view_model.h"
#include "platform/platform.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <sys/types.h>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

// Stands in for the desktop: records what the panel asked of it and answers the folder
// chooser from a queue of prepared answers (nothing = the user cancelled).
class DesktopRecorder final : public Desktop {
public:
    bool openUrl(const QUrl& url) override {
        openedUrls.push_back(url);
        return true;
    }
    void setClipboardText(const QString& text) override {
        clipboardClears += 1;
        clipboard = text;
    }
    std::optional<QString> chooseDirectory(const QString& prompt, const QString& message) override {
        chooserPrompts.push_back(prompt);
        chooserMessages.push_back(message);
        std::optional<QString> answer;
        if (!chooserAnswers.empty()) {
            answer = chooserAnswers.front();
            chooserAnswers.pop_front();
        }
        return answer;
    }
    bool openPrivacySettings() override {
        privacyOpens += 1;
        return true;
    }

    std::vector<QUrl> openedUrls;
    std::optional<QString> clipboard;
    int clipboardClears = 0;
    int privacyOpens = 0;
    QStringList chooserPrompts;
    QStringList chooserMessages;
    std::deque<std::optional<QString>> chooserAnswers;
};

// A sandbox for one test: a temporary directory holding an application directory
// ("<tmp>/app") whose installed root is "<tmp>/Zelto-panel", with the real system tools, a
// memory preference store, the desktop recorder and the real dispatcher.
struct TestSandbox {
    TestSandbox();

    QString base() const { return dir.path(); }
    QString appDir() const { return dir.path() + QStringLiteral("/app"); }
    QString resourceDir() const { return appDir() + QStringLiteral("/resources"); }
    QString installedRoot() const { return dir.path() + QStringLiteral("/Zelto-panel"); }

    Platform platform() const;
    std::shared_ptr<PanelViewModel> makeModel(PanelConfig config = {}) const;

    QTemporaryDir dir;
    std::shared_ptr<DesktopRecorder> desktop = std::make_shared<DesktopRecorder>();
    std::shared_ptr<Preferences> preferences = platform::memoryPreferences();
    SystemTools tools = SystemTools::debian();
    std::optional<QString> resourcePathOverride; // nothing = appDir()/resources
    bool noResourcePath = false;
    QDateTime fixedNow; // invalid = the real clock
    QString architecture = QStringLiteral("x86_64");
    // The database's status follows the machine's own database port (end-to-end tests, which
    // hold the ports' lock) rather than a free port of the sandbox's own.
    bool machineDatabasePort = false;
    // The free port the sandbox's models watch instead.
    int databasePort = 0;
};

namespace testing {

// The outcomes a model hands out from now on, in order.
class OutcomeRecorder {
public:
    explicit OutcomeRecorder(PanelViewModel& model);
    ~OutcomeRecorder();
    OutcomeRecorder(const OutcomeRecorder&) = delete;
    OutcomeRecorder& operator=(const OutcomeRecorder&) = delete;

    // Runs the event loop until count outcomes have arrived in all (or the time limit); true
    // when they did.
    bool waitFor(std::size_t count = 1, int timeoutMs = 60000);
    // The latest outcome; only after one has arrived.
    const OperationOutcome& last() const { return outcomes.back(); }

    std::vector<OperationOutcome> outcomes;

private:
    QMetaObject::Connection m_connection;
};

// Runs an operation of the model and waits for its outcome; nothing when none came in time.
std::optional<OperationOutcome> runToEnd(PanelViewModel& model, void (PanelViewModel::*operation)(),
                                         int timeoutMs = 60000);

// Writes an executable shell script at path ("#!/bin/sh" and body), creating parents.
void writeScript(const QString& path, const QString& body);
// Writes a file with the given bytes, creating parents.
void writeFile(const QString& path, const QByteArray& bytes);
// Appends the bytes to the file at path (as a server writes its log), creating it.
void appendFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);
// Creates the three entries that make root a valid panel root: runtime/mysql/bin/mysqld
// (an executable script), runtime/php and runtime/phpmyadmin.
void makeValidRoot(const QString& root);
// Runs the main event loop until every call queued so far (and those they queue) has run,
// or until the time limit; true when the condition became true.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 30000);

// While it lives, file modes bar the calling thread even where it runs as root: it drops the
// capabilities that override them (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH) from the thread's
// effective set, and takes them back when it goes. For an ordinary user it changes nothing.
class FileModesApply {
public:
    FileModesApply();
    ~FileModesApply();
    FileModesApply(const FileModesApply&) = delete;
    FileModesApply& operator=(const FileModesApply&) = delete;
    // False when root's overrides could not be dropped (the test should skip).
    bool holds() const { return m_holds; }

private:
    bool m_dropped = false;
    bool m_holds = true;
};

// --- End to end: real servers on real ports ---

// True when something accepts a connection on port of 127.0.0.1 within half a second.
bool portAnswers(int port);

// What an end-to-end test needs before it starts: the assembled runtime (ZELTO_RUNTIME_DIR,
// holding mark, a path inside it) and its fixed ports free. skip says why the test cannot run
// here (no runtime), failure that it must not (a port already answers); both empty when it can.
struct EndToEndSetup {
    QString runtime;
    QString skip;
    QString failure;
};
EndToEndSetup endToEndSetup(const QString& mark, const QList<int>& ports);

// A TCP port nobody listens on right now.
quint16 freeTcpPort();

// Ends, when it goes, whatever still runs with base (a test's temporary directory) in its
// command line (servers, adaptors, the test's own stand-ins): first politely, then for good.
class EndProcessesUnder {
public:
    explicit EndProcessesUnder(QString base) : m_base(std::move(base)) {}
    ~EndProcessesUnder();
    EndProcessesUnder(const EndProcessesUnder&) = delete;
    EndProcessesUnder& operator=(const EndProcessesUnder&) = delete;

private:
    QString m_base;
};

// A server that is neither PHP nor the database (the port listener), holding port on every
// address until it is destroyed.
struct ForeignListener {
    explicit ForeignListener(int port);
    ~ForeignListener();
    ForeignListener(const ForeignListener&) = delete;
    ForeignListener& operator=(const ForeignListener&) = delete;
    pid_t pid = -1;
};

// Makes a directory unwritable for this process (as root: immutable, through chattr); false
// when there is no way here. makeWritable() undoes it.
bool makeUnwritable(const QString& dir);
void makeWritable(const QString& dir);

} // namespace testing

// True while pid names a live (not zombie) process.
bool processAlive(pid_t pid);
// Sends SIGTERM to pid when its command line contains marker; waits until it has gone.
void endProcess(pid_t pid, const QString& marker);
