#pragma once

#include <QObject>
#include <QString>

#include <functional>

// Sends the panel's desktop notifications through the desktop's notification service on the
// session bus, without waiting for it. Where no service answers (no session bus, or nothing
// owns the name), the notification goes to the fallback, the tray icon's own message, when
// there is one.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    using Fallback = std::function<void(const QString& title, const QString& body)>;

    explicit DesktopNotifier(QString service = QStringLiteral("org.freedesktop.Notifications"),
                             QObject* parent = nullptr);

    void setFallback(Fallback fallback) { m_fallback = std::move(fallback); }
    void notify(const QString& title, const QString& body);

private:
    void fallBack(const QString& title, const QString& body) const;

    QString m_service;
    Fallback m_fallback;
};
