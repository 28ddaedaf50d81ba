#pragma once

#include "platform/result.h"
#include "update/extraction.h"

#include <QByteArray>
#include <QString>

#include <archive.h>
#include <archive_entry.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Reading the update archive for an extraction (update/extraction.h): its headers alone for
// the survey, or everything on a thread of its own, handed to the writer in batches.
namespace update::archive_reading {

struct ReaderDeleter {
    void operator()(archive* a) const { archive_read_free(a); }
};
using Reader = std::unique_ptr<archive, ReaderDeleter>;

// The library's message about a (or "").
QString libraryMessage(archive* a);

// The library's last failure on a as an Error of kind; a system call's errno, when the
// library has one, is kept as the code of a System failure.
Error libraryError(archive* a, ErrorKind kind);

// A ZIP reader of archiveName that takes the entries from the central directory (the sizes it
// declares included).
Result<Reader> openZip(const QByteArray& archiveName);

// Reads every header of the archive without writing anything: refuses unsafe names and adds
// up the sizes that the entries declare.
Result<ArchiveSurvey> surveyArchive(const QByteArray& archiveName);

// --- Reading and writing on two threads ---
//
// Inflating and checking the data takes about as long as writing the files, so one thread
// reads the archive while the caller's thread writes what it has read. The reader hands over
// everything in archive order, its own refusals included, so the writer meets every failure
// exactly where a single thread would have met it and nothing after it is written.

struct EntryDeleter {
    void operator()(archive_entry* e) const { archive_entry_free(e); }
};

// One thing for the writer to do.
struct Step {
    enum class Kind { Header, Data, EndOfEntry, Failure };
    Kind kind = Kind::Header;
    std::unique_ptr<archive_entry, EntryDeleter> entry; // Header: ready to write
    std::string name;                                   // Header: the name in the archive
    qint64 declared = 0;                                // Header: the size it declares
    size_t at = 0;                                      // Data: where in the batch's bytes
    size_t size = 0;
    la_int64_t offset = 0; // Data: where in the file
    Error failure;         // Failure: why the extraction stops
};

// Steps travel in batches, so that the threads meet a few hundred times, not once a block.
struct Batch {
    static constexpr size_t kBytes = 1 << 20;
    static constexpr size_t kSteps = 1024;
    std::vector<Step> steps;
    std::vector<char> bytes;
    bool last = false; // nothing follows

    bool full() const { return bytes.size() >= kBytes || steps.size() >= kSteps; }
};

// The batches between the two threads: a few in use, handed back and forth.
class BatchChannel {
public:
    explicit BatchChannel(int batches);
    // The reader's next batch to fill; nothing once the writer has stopped.
    std::unique_ptr<Batch> takeEmpty() { return take(m_empty); }
    void sendFull(std::unique_ptr<Batch> batch) { put(m_full, std::move(batch)); }
    // The writer's next batch to write.
    std::unique_ptr<Batch> takeFull() { return take(m_full); }
    void giveBack(std::unique_ptr<Batch> batch);
    // The writer ends early: the reader stops at its next batch.
    void stop();

private:
    std::unique_ptr<Batch> take(std::deque<std::unique_ptr<Batch>>& from);
    void put(std::deque<std::unique_ptr<Batch>>& to, std::unique_ptr<Batch> batch);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<Batch>> m_full;
    std::deque<std::unique_ptr<Batch>> m_empty;
    bool m_stopped = false;
};

// Reads every entry of reader and hands it to the writer as steps: the header with its name
// below prefix, the data block by block, the end of the entry. Whatever refuses the archive
// (the library's complaints, warnings included; unsafe names; names through links the archive
// made; data beyond the declared size) becomes a failure step, the last.
void readEntries(archive* reader, const std::string& prefix, BatchChannel& channel);

} // namespace update::archive_reading
