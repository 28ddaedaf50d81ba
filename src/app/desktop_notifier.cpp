#include "app/desktop_notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

DesktopNotifier::DesktopNotifier(QString service, QObject* parent)
    : QObject(parent), m_service(std::move(service)) {}

void DesktopNotifier::notify(const QString& title, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        fallBack(title, body);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        m_service, QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("org.zelto.Panel")}};
    call << QStringLiteral("Zelto-Panel") << uint(0) << QStringLiteral("org.zelto.Panel") << title
         << body << QStringList() << hints << int(-1);
    // Answered later: a desktop slow to answer holds up nothing.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, title, body](QDBusPendingCallWatcher* answered) {
                if (QDBusPendingReply<uint>(*answered).isError())
                    fallBack(title, body);
                answered->deleteLater();
            });
}

void DesktopNotifier::fallBack(const QString& title, const QString& body) const {
    if (m_fallback)
        m_fallback(title, body);
}
