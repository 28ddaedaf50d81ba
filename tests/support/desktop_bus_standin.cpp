// The desktop's side of the session bus, for tests: a status-notifier watcher with a host
// (where a tray icon registers) and a notification service. It records every call as one line
// of the file named by its first argument, and writes "ready" once both names are its own.
//   register <item service>
//   notify <summary>\t<body, its line ends written as \n>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QStringList>
#include <QVariantMap>

#include <cstdio>

namespace {

QString g_recordPath;

void record(const QString& line) {
    QFile file(g_recordPath);
    if (file.open(QIODevice::Append))
        file.write(line.toUtf8() + '\n');
}

} // namespace

class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return m_items; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& item, const QDBusMessage& message) {
        // An item may name its object path only; then the caller's name is its service.
        const QString service = item.startsWith(QLatin1Char('/')) ? message.service() : item;
        m_items.push_back(service);
        record(QStringLiteral("register ") + service);
        Q_EMIT StatusNotifierItemRegistered(service);
    }
    void RegisterStatusNotifierHost(const QString&) {}

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    QStringList m_items;
};

class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public Q_SLOTS:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int timeout) {
        Q_UNUSED(appName);
        Q_UNUSED(replacesId);
        Q_UNUSED(appIcon);
        Q_UNUSED(actions);
        Q_UNUSED(hints);
        Q_UNUSED(timeout);
        QString text = body;
        text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
        record(QStringLiteral("notify ") + summary + QLatin1Char('\t') + text);
        return ++m_last;
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion) {
        vendor = QStringLiteral("tests");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("desktop stand-in");
    }
    void CloseNotification(uint) {}

private:
    uint m_last = 0;
};

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s RECORD-FILE\n", argv[0]);
        return 2;
    }
    g_recordPath = QString::fromLocal8Bit(argv[1]);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Watcher watcher;
    Notifications notifications;
    const auto exported = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                          QDBusConnection::ExportAllProperties;
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher, exported) ||
        !bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
                            exported) ||
        !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        std::fprintf(stderr, "desktop stand-in: the session bus refused: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    record(QStringLiteral("ready"));
    return QCoreApplication::exec();
}

#include "desktop_bus_standin.moc"
