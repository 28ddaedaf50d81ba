#include "update/update_lock.h"

#include <QDir>
#include <QLockFile>

namespace update {

QString updateLockPath(const QString& runtimeDir) {
    return runtimeDir + QStringLiteral("/.zelto-update.lock");
}

UpdateLock UpdateLock::acquire(const QString& runtimeDir) {
    UpdateLock lock;
    QDir().mkpath(runtimeDir);
    auto file = std::make_shared<QLockFile>(updateLockPath(runtimeDir));
    // A run may take many minutes (two 300-second synchronisation passes), so age never makes
    // a lock stale; only a holder that no longer runs does.
    file->setStaleLockTime(0);
    if (file->tryLock(0)) {
        lock.m_state = State::Held;
        lock.m_file = std::move(file);
    } else if (file->error() == QLockFile::LockFailedError) {
        lock.m_state = State::Busy;
    }
    return lock;
}

} // namespace update
