// The entry that starts the panel at login, in a temporary home and configuration: where it
// lives, what it says (checked by the desktop's own validator), reading it back through the
// Exec quoting for awkward install paths, entries edited elsewhere, and failures that name
// their path.

#include "core/autostart.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

using namespace testing;

class TestAutostart : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void entryPath_data();
    void entryPath();
    void writtenReadBackRemoved_data();
    void writtenReadBackRemoved();
    void readsEntriesAsTheDesktopDoes_data();
    void readsEntriesAsTheDesktopDoes();
    void failuresNameThePath_data();
    void failuresNameThePath();

private:
    QString base() const { return m_dir->path(); }
    QString configHome() const { return base() + QStringLiteral("/config"); }
    QString entryFile() const {
        return configHome() + QStringLiteral("/autostart/org.zelto.Panel.desktop");
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestAutostart::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("HOME", QFile::encodeName(base() + QStringLiteral("/home")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome()));
}

void TestAutostart::entryPath_data() {
    QTest::addColumn<bool>("set");
    QTest::addColumn<QString>("value"); // %1: the temporary directory
    QTest::addColumn<QString>("expected");
    const QString name = QStringLiteral("/autostart/org.zelto.Panel.desktop");
    QTest::newRow("absolute") << true << "%1/config"
                              << "%1/config" + name;
    QTest::newRow("with a trailing slash") << true << "%1/config/"
                                           << "%1/config" + name;
    QTest::newRow("unset") << false << ""
                           << "%1/home/.config" + name;
    QTest::newRow("empty") << true << ""
                           << "%1/home/.config" + name;
    QTest::newRow("relative") << true << "config"
                              << "%1/home/.config" + name;
}

void TestAutostart::entryPath() {
    QFETCH(bool, set);
    QFETCH(QString, value);
    QFETCH(QString, expected);
    if (set)
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(value.replace(QStringLiteral("%1"), base())));
    else
        qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(core::autostartEntryPath(), expected.arg(base()));
    QCOMPARE(core::autostartState().path, expected.arg(base()));
}

void TestAutostart::writtenReadBackRemoved_data() {
    QTest::addColumn<QString>("directory"); // where the panel is installed, below the sandbox
    QTest::addColumn<bool>("startStack");
    QTest::newRow("plain") << "bin" << false;
    QTest::newRow("spaces") << "my apps/bin" << true;
    QTest::newRow("Chinese") << "面板 程序/bin" << false;
    QTest::newRow("quotes") << "it's \"quoted\"" << true;
    QTest::newRow("backslashes") << "back\\slash\\\\" << false;
    QTest::newRow("dollar and backtick") << "$HOME `id` ${x}" << true;
    QTest::newRow("percent and field codes") << "100% %u %%f" << false;
    QTest::newRow("line break and tab") << "a\nb\tc\rd" << true;
    QTest::newRow("shell's characters") << "a;b|c&d<e>f*?#~()=[x]" << false;
}

void TestAutostart::writtenReadBackRemoved() {
    QFETCH(QString, directory);
    QFETCH(bool, startStack);
    const QString panel = base() + QLatin1Char('/') + directory + QStringLiteral("/zelto-panel");
    writeScript(panel, QStringLiteral("exit 0"));

    // Written twice: the second replaces the first.
    QVERIFY(core::setAutostart(true, !startStack, panel));
    QVERIFY(core::setAutostart(true, startStack, panel));
    const core::AutostartState on = core::autostartState();
    QVERIFY(on.enabled);
    QCOMPARE(on.startStack, startStack);
    QCOMPARE(on.panelExecutable, panel);
    QCOMPARE(on.path, entryFile());
    const QByteArray text = readFile(entryFile());
    const QByteArray exec = text.mid(text.indexOf("\nExec=") + 1).split('\n').first();
    QVERIFY2(exec.endsWith(startStack ? "\" --tray --start-all" : "\" --tray"), exec.constData());
    // Each backslash begins an escape that every reader of string values knows; a quote or a
    // dollar sign escaped once only is an invalid escape to some (GLib's key files).
    for (qsizetype i = 0; i < exec.size(); ++i) {
        if (exec[i] == '\\')
            QVERIFY2(QByteArray("\\sntr").contains(exec.at(++i)), exec.constData());
    }
    for (const char* line :
         {"\nType=Application\n", "\nName=Zelto-Panel\n", "\nName[zh_CN]=ZELTO 本地调试助手\n",
          "\nIcon=org.zelto.Panel\n", "\nTerminal=false\n", "\nX-GNOME-Autostart-enabled=true\n"})
        QVERIFY2(text.contains(line), line);

    QVERIFY(core::setAutostart(false, startStack, panel));
    QVERIFY(!QFileInfo::exists(entryFile()));
    QVERIFY(!core::autostartState().enabled);
    QVERIFY(core::setAutostart(false, false, {})); // nothing left to remove

    const QString validator =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        QSKIP("desktop-file-validate is not installed");
    const QString copy = base() + QStringLiteral("/check/org.zelto.Panel.desktop");
    writeFile(copy, text);
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(validator, {copy});
    QVERIFY(validate.waitForFinished(30000));
    QVERIFY2(validate.exitStatus() == QProcess::NormalExit && validate.exitCode() == 0,
             validate.readAll().constData());
}

void TestAutostart::readsEntriesAsTheDesktopDoes_data() {
    QTest::addColumn<QByteArray>("entry"); // null: no file
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("startStack");
    QTest::addColumn<QString>("panel");
    const QByteArray head = "[Desktop Entry]\nType=Application\nName=Zelto-Panel\n";
    QTest::newRow("no entry") << QByteArray() << false << false << "";
    QTest::newRow("unquoted program") << head + "Exec=/opt/zp/zelto-panel --tray\n"
                                      << true << false << "/opt/zp/zelto-panel";
    QTest::newRow("comment, spaces around =, CRLF")
        << QByteArray("# mine\r\n[Desktop Entry]\r\nExec =  \"/opt/a b/zelto-panel\" --tray "
                      " --start-all\r\nName=Z\r\n")
        << true << true << "/opt/a b/zelto-panel";
    QTest::newRow("escaped once only, as many write it")
        << head + "Exec=\"/opt/a\\\"b\\$/zelto-panel\" --tray\n"
        << true << false << "/opt/a\"b$/zelto-panel";
    QTest::newRow("hidden") << head + "Exec=/zp --tray\nHidden=true\n" << false << false << "/zp";
    QTest::newRow("switched off in the desktop's settings")
        << head + "Exec=/zp --tray --start-all\nX-GNOME-Autostart-enabled=false\n"
        << false << true << "/zp";
    QTest::newRow("Exec of another group only")
        << QByteArray("[Desktop Action tray]\nExec=/zp --tray\n") + head << false << false << "";
    QTest::newRow("unclosed quote") << head + "Exec=\"/opt/zp --tray\n" << false << false << "";
    QTest::newRow("not UTF-8") << head + "Exec=/opt/\xff/zelto-panel --tray\n"
                               << false << false << "";
}

void TestAutostart::readsEntriesAsTheDesktopDoes() {
    QFETCH(QByteArray, entry);
    QFETCH(bool, enabled);
    QFETCH(bool, startStack);
    QFETCH(QString, panel);
    if (!entry.isNull())
        writeFile(entryFile(), entry);
    const core::AutostartState state = core::autostartState();
    QCOMPARE(state.enabled, enabled);
    QCOMPARE(state.startStack, startStack);
    QCOMPARE(state.panelExecutable, panel);
}

void TestAutostart::failuresNameThePath_data() {
    QTest::addColumn<QString>("barrier");
    QTest::addColumn<bool>("enable");
    QTest::addColumn<QString>("errorPath"); // %1: the sandbox
    QTest::newRow("missing program") << "missing" << true << "%1/nowhere/zelto-panel";
    QTest::newRow("program not executable") << "plain file" << true << "%1/app/zelto-panel";
    QTest::newRow("relative program") << "relative" << true << "zelto-panel";
    QTest::newRow("read-only autostart directory")
        << "read-only" << true << "%1/config/autostart/org.zelto.Panel.desktop";
    QTest::newRow("removal from a read-only autostart directory")
        << "read-only" << false << "%1/config/autostart/org.zelto.Panel.desktop";
    QTest::newRow("configuration home is a file") << "file" << true << "%1/config/autostart";
}

void TestAutostart::failuresNameThePath() {
    QFETCH(QString, barrier);
    QFETCH(bool, enable);
    QFETCH(QString, errorPath);
    QString panel = base() + QStringLiteral("/app/zelto-panel");
    if (barrier == QLatin1String("plain file"))
        writeFile(panel, "#!/bin/sh\n");
    else
        writeScript(panel, QStringLiteral("exit 0"));
    if (barrier == QLatin1String("missing"))
        panel = base() + QStringLiteral("/nowhere/zelto-panel");
    else if (barrier == QLatin1String("relative"))
        panel = QStringLiteral("zelto-panel");
    else if (barrier == QLatin1String("file"))
        writeFile(configHome(), "not a directory");
    const QString autostartDir = configHome() + QStringLiteral("/autostart");
    const bool readOnly = barrier == QLatin1String("read-only");
    if (readOnly) {
        QVERIFY(QDir().mkpath(autostartDir));
        if (!enable) // an entry to remove
            QVERIFY(core::setAutostart(true, false, panel));
        QVERIFY(QFile::setPermissions(autostartDir, QFile::ReadOwner | QFile::ExeOwner));
    }
    const auto writable = qScopeGuard([&] {
        QFile::setPermissions(autostartDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    const bool wasOn = core::autostartState().enabled;
    std::optional<Result<>> set;
    {
        FileModesApply modes;
        if (!modes.holds())
            QSKIP("cannot make a directory read-only for this thread");
        set.emplace(core::setAutostart(enable, false, panel));
    }
    QVERIFY(!*set);
    QCOMPARE(set->error().path, errorPath.replace(QStringLiteral("%1"), base()));
    QVERIFY(!set->error().message.isEmpty());
    QCOMPARE(core::autostartState().enabled, wasOn); // nothing changed
}

QTEST_GUILESS_MAIN(TestAutostart)
#include "tst_autostart.moc"
