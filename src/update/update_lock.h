#pragma once

#include <QString>

#include <memory>

class QLockFile;

namespace update {

// One update at a time across processes (the window and the command line, or two of
// either): a lock file in the runtime directory, held from the start of a run until its final
// report. A lock left behind by a process that has ended is taken over.
class UpdateLock {
public:
    enum class State {
        Held,        // this run holds the lock
        Busy,        // a live process holds it
        Unavailable, // no lock file could be made (the run goes on and meets the cause itself)
    };

    // Tries once, without waiting; creates the runtime directory when missing.
    static UpdateLock acquire(const QString& runtimeDir);

    State state() const { return m_state; }

private:
    State m_state = State::Unavailable;
    // Shared, so that the run's queued blocks can carry it to the final report.
    std::shared_ptr<QLockFile> m_file;
};

// The lock file of the runtime directory.
QString updateLockPath(const QString& runtimeDir);

} // namespace update
