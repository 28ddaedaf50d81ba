#include "core/database_files.h"

#include <QCryptographicHash>
#include <QFile>

#include <unistd.h>

QString mysqlSocketPathFor(const QString& mysqlDir) {
    QString inside = mysqlDir + QStringLiteral("/mysqld.sock");
    if (QFile::encodeName(inside).size() <= 107)
        return inside;
    const QByteArray digest =
        QCryptographicHash::hash(QFile::encodeName(mysqlDir), QCryptographicHash::Md5).toHex();
    return QStringLiteral("/tmp/zelto-mysqld-%1-%2.sock")
        .arg(::getuid())
        .arg(QString::fromLatin1(digest.left(16)));
}
