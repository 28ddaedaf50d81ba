#pragma once

#include "app/surface.h"
#include "core/service_table.h"

#include <QLocale>

class Badge;
class QLabel;

// The top card: the logo, the application's title and readiness, the locale and one badge
// per service.
class HeroHeader : public Surface {
    Q_OBJECT
public:
    explicit HeroHeader(QWidget* parent = nullptr);
    void setState(const QString& permissionHint, const ServiceStatus& status);

    QLabel* readinessLabel() const { return m_readiness; }
    QLabel* localeLabel() const { return m_locale; }
    Badge* badge(int index) const { return m_badges[index]; }

    // The locale's name in its own language ("English (United States)", "中文（中国）"), or
    // the empty text when it has none.
    static QString localeDisplayName(const QLocale& locale);

private:
    QLabel* m_readiness;
    QLabel* m_locale;
    Badge* m_badges[kServices.size()];
};
