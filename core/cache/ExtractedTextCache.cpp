#include "core/cache/ExtractedTextCache.h"

#include "core/cache/TextCompression.h"
#include "core/cache/TextCompressor.h"
#include "core/platform/FileName.h"
#include "core/platform/TrustedFolder.h"
#include "core/platform/UniqueFd.h"
#include "core/search/ContentTestCancelScope.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <errno.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <sqlite3.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace dv {

namespace {

// "DvTx" in the database header: tells our file from any other SQLite database.
constexpr int kApplicationId = 0x44765478;
constexpr int kSchemaVersion = 2;
// Version 1 lacked content_hash: it gains the column, each entry with 0 (not hashed), as keyed.
constexpr int kOldestUpgradableVersion = 1;
// A writer waits this long for another program's write, or this long at a brief flush (at
// exit); a reader only a fraction of a second: a search goes on without the cache rather than
// wait. Every wait ends at once when the waiting content test, or the program, is cancelled.
constexpr int kWriterBusyTimeoutMs = 5000;
constexpr int kBriefWriterBusyTimeoutMs = 250;
constexpr int kReaderBusyTimeoutMs = 200;
// How long the writer gathers stores before one transaction, unless flushed.
constexpr auto kBatchDelay = std::chrono::milliseconds(200);
// Stores queued beyond this many bytes of compressed text are dropped: the writer cannot keep
// up, and the queue must not grow a search's memory much. One text alone is always taken.
constexpr qint64 kMaxQueuedBytes = 8LL * 1024 * 1024;
// What an entry costs beyond its compressed text and path: its row and index records.
constexpr qint64 kEntryOverhead = 128;
constexpr size_t kMaxIdleReaders = 4;
constexpr auto kOpenLockTimeout = std::chrono::milliseconds(250);

const char *const kSchema = R"(
CREATE TABLE entries(
  id INTEGER PRIMARY KEY,
  path BLOB NOT NULL UNIQUE,
  device INTEGER NOT NULL,
  inode INTEGER NOT NULL,
  size INTEGER NOT NULL,
  modified_ns INTEGER NOT NULL,
  changed_ns INTEGER NOT NULL,
  content_hash INTEGER NOT NULL DEFAULT 0,
  text_bytes INTEGER NOT NULL,
  cost INTEGER NOT NULL,
  last_used INTEGER NOT NULL);
CREATE INDEX entries_by_use ON entries(last_used);
CREATE TABLE texts(id INTEGER PRIMARY KEY, data BLOB NOT NULL);
CREATE TABLE totals(id INTEGER PRIMARY KEY CHECK(id = 0), cost INTEGER NOT NULL);
INSERT INTO totals VALUES(0, 0);
CREATE TRIGGER entries_added AFTER INSERT ON entries BEGIN
  UPDATE totals SET cost = cost + new.cost WHERE id = 0;
END;
CREATE TRIGGER entries_changed AFTER UPDATE OF cost ON entries BEGIN
  UPDATE totals SET cost = cost - old.cost + new.cost WHERE id = 0;
END;
CREATE TRIGGER entries_removed AFTER DELETE ON entries BEGIN
  UPDATE totals SET cost = cost - old.cost WHERE id = 0;
  DELETE FROM texts WHERE id = old.id;
END;
)";

// Fingerprints of the texts, in a table of their own: a text written by any program, also by
// one that knows nothing of them, drops the fingerprint of the text it replaces.
const char *const kFingerprintSchema = R"(
CREATE TABLE IF NOT EXISTS fingerprints(id INTEGER PRIMARY KEY, data BLOB NOT NULL);
CREATE TRIGGER IF NOT EXISTS texts_added_fingerprint AFTER INSERT ON texts BEGIN
  DELETE FROM fingerprints WHERE id = new.id;
END;
CREATE TRIGGER IF NOT EXISTS texts_changed_fingerprint AFTER UPDATE ON texts BEGIN
  DELETE FROM fingerprints WHERE id = old.id OR id = new.id;
END;
CREATE TRIGGER IF NOT EXISTS texts_removed_fingerprint AFTER DELETE ON texts BEGIN
  DELETE FROM fingerprints WHERE id = old.id;
END;
)";

const char *const kLookupSql = "SELECT id, text_bytes FROM entries "
                               "WHERE path = ?1 AND device = ?2 AND inode = ?3 AND size = ?4 "
                               "AND modified_ns = ?5 AND changed_ns = ?6 AND content_hash = ?7";

class SqliteError : public std::runtime_error
{
public:
    SqliteError(sqlite3 *db, int code)
        : std::runtime_error(db ? sqlite3_errmsg(db) : sqlite3_errstr(code)), code(code)
    {}
    int code;
    bool isCorruption() const
    {
        return (code & 0xff) == SQLITE_CORRUPT || (code & 0xff) == SQLITE_NOTADB;
    }
};

void Check(sqlite3 *db, int rc)
{
    if (rc != SQLITE_OK)
        throw SqliteError(db, rc);
}

void Exec(sqlite3 *db, const char *sql)
{
    Check(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
}

class Statement
{
public:
    Statement(sqlite3 *db, const char *sql) : m_db(db)
    {
        Check(db, sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr));
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int index, qint64 value)
    {
        Check(m_db, sqlite3_bind_int64(m_stmt, index, value));
        return *this;
    }
    Statement &bind(int index, const QByteArray &blob)
    {
        Check(m_db, sqlite3_bind_blob64(m_stmt, index, blob.constData(),
                                        sqlite3_uint64(blob.size()), SQLITE_STATIC));
        return *this;
    }
    // True for a row, false when done; throws on an error.
    bool step()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        throw SqliteError(m_db, rc);
    }
    void reset()
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    qint64 integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    const char *blob(int column, qsizetype &size) const
    {
        const char *data = static_cast<const char *>(sqlite3_column_blob(m_stmt, column));
        size = sqlite3_column_bytes(m_stmt, column);
        return data;
    }

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

// The stored text of an entry, opened for reading a block at a time: a text is never copied
// whole out of the database.
class TextBlob
{
public:
    TextBlob(sqlite3 *db, qint64 id) : m_db(db)
    {
        Check(db, sqlite3_blob_open(db, "main", "texts", "data", id, 0, &m_blob));
    }
    ~TextBlob() { sqlite3_blob_close(m_blob); }
    TextBlob(const TextBlob &) = delete;
    TextBlob &operator=(const TextBlob &) = delete;

    qint64 size() const { return sqlite3_blob_bytes(m_blob); }
    void read(qint64 offset, char *buffer, qsizetype size)
    {
        Check(m_db, sqlite3_blob_read(m_blob, buffer, int(size), int(offset)));
    }

private:
    sqlite3 *m_db;
    sqlite3_blob *m_blob = nullptr;
};

// Resets a statement at the end of a scope, also when a step threw.
class ResetGuard
{
public:
    explicit ResetGuard(Statement &statement) : m_statement(statement) {}
    ~ResetGuard() { m_statement.reset(); }

private:
    Statement &m_statement;
};

qint64 QueryInteger(sqlite3 *db, const char *sql)
{
    Statement statement(db, sql);
    return statement.step() ? statement.integer(0) : 0;
}

QByteArray QueryText(sqlite3 *db, const char *sql)
{
    Statement statement(db, sql);
    if (!statement.step())
        return QByteArray();
    qsizetype size = 0;
    const char *text = statement.blob(0, size);
    return QByteArray(text, size);
}

// Settings of every connection. The WAL stays when the last connection closes (only cut to
// nothing): a program still holding a database that another one has moved aside would
// otherwise delete, by name, the WAL of the new database.
// How long a connection waits for another program's lock (one thread uses a connection at a
// time).
struct BusyWait
{
    explicit BusyWait(int limitMs) : limitMs(limitMs) {}
    std::atomic<int> limitMs;
    bool noWait = false;
    std::chrono::steady_clock::time_point since;
};

int OnBusy(void *context, int count)
{
    auto &wait = *static_cast<BusyWait *>(context);
    const auto now = std::chrono::steady_clock::now();
    if (count == 0)
        wait.since = now;
    if (wait.noWait || IsContentTestCancelled() ||
        now - wait.since >= std::chrono::milliseconds(wait.limitMs.load()))
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return 1;
}

void Configure(sqlite3 *db, BusyWait &wait)
{
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_handler(db, &OnBusy, &wait);
    int persist = 1;
    sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    sqlite3_exec(db, "PRAGMA journal_size_limit = 8388608", nullptr, nullptr, nullptr);
}

void Close(sqlite3 *&db)
{
    if (db)
        sqlite3_close_v2(db);
    db = nullptr;
}

// The bits of an unsigned 64-bit number in SQLite's signed integer.
qint64 AsStored(quint64 value)
{
    qint64 stored;
    std::memcpy(&stored, &value, sizeof stored);
    return stored;
}

qint64 NowNs()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Time of last use: microseconds, strictly increasing within the program, so that uses in
// one batch keep their order.
qint64 NextUseTime()
{
    static std::atomic<qint64> last{0};
    const qint64 now = NowNs() / 1000;
    qint64 previous = last.load();
    qint64 next;
    do {
        next = std::max(now, previous + 1);
    } while (!last.compare_exchange_weak(previous, next));
    return next;
}

// Exclusive lock of the folder while one program checks, moves aside or creates the
// database, so that two programs starting together do not both rebuild it.
class OpenLock
{
public:
    OpenLock(int folder, const QByteArray &name)
        : m_fd(::openat(folder, name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600))
    {
        if (!m_fd)
            return;
        const auto deadline = std::chrono::steady_clock::now() + kOpenLockTimeout;
        while (flock(m_fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || IsContentTestCancelled() ||
                std::chrono::steady_clock::now() >= deadline) {
                m_fd.reset();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    bool held() const { return m_fd.isValid(); }

private:
    UniqueFd m_fd;
};

// A file of the database (the database, its WAL and index, a journal) must be a regular file
// of ours, not a link: one that another user placed would receive our texts.
bool IsOwnFileOrAbsent(const char *path)
{
    struct stat st;
    if (::lstat(path, &st) != 0)
        return errno == ENOENT;
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

sqlite3_vfs *BaseVfs(sqlite3_vfs *vfs)
{
    return static_cast<sqlite3_vfs *>(vfs->pAppData);
}

int KeepPathAsGiven(sqlite3_vfs *vfs, const char *name, int size, char *out)
{
    const size_t length = std::strlen(name);
    if (name[0] != '/' || length >= size_t(size))
        return BaseVfs(vfs)->xFullPathname(BaseVfs(vfs), name, size, out);
    std::memcpy(out, name, length + 1);
    return SQLITE_OK;
}

int OpenCheckedFile(sqlite3_vfs *vfs, sqlite3_filename name, sqlite3_file *file, int flags,
                    int *outFlags)
{
    if (name) {
        bool ours = IsOwnFileOrAbsent(name);
        // The index of the WAL is opened by name beside the database, not through here.
        if (ours && (flags & SQLITE_OPEN_MAIN_DB))
            ours = IsOwnFileOrAbsent((QByteArray(name) + "-shm").constData()) &&
                   IsOwnFileOrAbsent((QByteArray(name) + "-wal").constData());
        if (!ours) {
            file->pMethods = nullptr;
            return SQLITE_CANTOPEN;
        }
    }
    return BaseVfs(vfs)->xOpen(BaseVfs(vfs), name, file, flags, outFlags);
}

// The database is opened as /proc/self/fd/N/<name>, N being the checked folder's descriptor, so
// that SQLite's own opens (WAL, index, journal) reach that very folder too. SQLite's own VFS
// would resolve that link back into the folder's path, open to a swap: this one takes the path
// as given and checks each file of the database before it is opened.
const char *CheckedVfsName()
{
    static sqlite3_vfs vfs;
    static std::once_flag registered;
    std::call_once(registered, [] {
        sqlite3_vfs *base = sqlite3_vfs_find(nullptr);
        vfs = *base;
        vfs.pNext = nullptr;
        vfs.zName = "delvora-checked";
        vfs.pAppData = base;
        vfs.xFullPathname = KeepPathAsGiven;
        vfs.xOpen = OpenCheckedFile;
        sqlite3_vfs_register(&vfs, 0);
    });
    return vfs.zName;
}

struct Reader
{
    BusyWait wait{kReaderBusyTimeoutMs};
    sqlite3 *db = nullptr;
    std::unique_ptr<Statement> lookup;
    std::unique_ptr<Statement> fingerprint; // none when the table is missing
    ~Reader()
    {
        fingerprint.reset();
        lookup.reset();
        Close(db);
    }
};

struct WriterStatements
{
    explicit WriterStatements(sqlite3 *db)
        : upsert(db, "INSERT INTO entries(path, device, inode, size, modified_ns, changed_ns, "
                     "text_bytes, cost, last_used, content_hash) "
                     "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10) "
                     "ON CONFLICT(path) DO UPDATE SET device = excluded.device, "
                     "inode = excluded.inode, size = excluded.size, "
                     "modified_ns = excluded.modified_ns, changed_ns = excluded.changed_ns, "
                     "content_hash = excluded.content_hash, "
                     "text_bytes = excluded.text_bytes, cost = excluded.cost, "
                     "last_used = excluded.last_used RETURNING id"),
          putText(db, "INSERT OR REPLACE INTO texts(id, data) VALUES(?1, ?2)"),
          touch(db,
                "UPDATE entries SET last_used = max(last_used, ?1) WHERE id = ?2 AND path = ?3"),
          total(db, "SELECT cost FROM totals WHERE id = 0"),
          oldest(db, "SELECT id, cost FROM entries ORDER BY last_used, id"),
          remove(db, "DELETE FROM entries WHERE id = ?1"), lookup(db, kLookupSql),
          putFingerprint(db, "INSERT OR REPLACE INTO fingerprints(id, data) VALUES(?1, ?2)")
    {}
    Statement upsert, putText, touch, total, oldest, remove, lookup, putFingerprint;
};

struct Operation
{
    enum Kind
    {
        Store,
        Touch
    } kind;
    QByteArray path;
    FileIdentity identity;
    QByteArray stored; // the text as CompressText gives it
    qint64 textBytes = 0;
    QByteArray fingerprint;
    qint64 entryId = 0;
    qint64 usedAt = 0;
};

// A store checked outside the write transaction.
struct PreparedStore
{
    const Operation *operation;
    QByteArray frame;
    qint64 textBytes;
    qint64 cost;
};

enum class OpenResult
{
    Open,
    Untrusted,
    Unusable
};

} // namespace

class ExtractedTextCache::Impl
{
public:
    Impl(const QString &folder, qint64 maxBytes, int settleMs)
        : m_folder(EncodeFileName(QDir::cleanPath(folder))), m_maxBytes(maxBytes),
          m_settleNs(qint64(settleMs) * 1000000)
    {
        if (openDatabase(false)) {
            m_available = true;
            m_thread = std::thread([this] { writerLoop(); });
        }
    }

    ~Impl()
    {
        if (m_thread.joinable()) {
            {
                std::lock_guard lock(m_queueMutex);
                m_stop = true;
            }
            m_queueCv.notify_all();
            m_thread.join();
        }
        closeReaders();
        closeDatabase();
    }

    std::optional<QString> lookup(const QByteArray &path, const FileIdentity &identity)
    {
        QByteArray utf8;
        if (!lookupUtf8(path, identity, utf8))
            return std::nullopt;
        try {
            return QString::fromUtf8(utf8);
        } catch (const std::exception &e) { // no memory for a large text
            setError(QString::fromUtf8(e.what()));
            return std::nullopt;
        }
    }

    bool lookupUtf8(const QByteArray &path, const FileIdentity &identity, QByteArray &bytes)
    {
        bytes.resize(0);
        const auto append = [&](const char *piece, qsizetype size) {
            bytes.append(piece, size);
            return true;
        };
        if (readUtf8(path, identity, append) == ExtractedTextCache::Read::Whole)
            return true;
        bytes.resize(0);
        return false;
    }

    ExtractedTextCache::Read readUtf8(const QByteArray &path, const FileIdentity &identity,
                                      const TextPieceVisitor &visit,
                                      const ExtractedTextCache::FingerprintFilter &filter = {},
                                      bool checkFirst = false)
    {
        using Read = ExtractedTextCache::Read;
        if (!m_available || m_damaged || path.isEmpty())
            return Read::Missing;
        std::shared_lock state(m_stateLock);
        if (!m_available)
            return Read::Missing;
        std::unique_ptr<Reader> reader;
        TextPiecesEnd end = TextPiecesEnd::Damaged;
        qint64 entryId = 0;
        bool ruledOut = false;
        try {
            reader = takeReader();
            Statement &lookup = *reader->lookup;
            ResetGuard guard(lookup);
            lookup.bind(1, path)
                .bind(2, AsStored(identity.device))
                .bind(3, AsStored(identity.inode))
                .bind(4, identity.size)
                .bind(5, identity.modifiedNs)
                .bind(6, identity.changedNs)
                .bind(7, AsStored(identity.contentHash));
            if (lookup.step()) {
                entryId = lookup.integer(0);
                ruledOut = filter && !admitted(*reader, entryId, filter);
            }
            if (entryId != 0 && !ruledOut) {
                // The open statement holds the read transaction the text is read in.
                TextBlob blob(reader->db, entryId);
                const auto read = [&](qint64 offset, char *buffer, qsizetype size) {
                    blob.read(offset, buffer, size);
                    return true;
                };
                // A frame that does not give back its recorded size is a miss, never a text.
                end = DecompressTextPieces(blob.size(), lookup.integer(1), read, visit, checkFirst);
            }
        } catch (const SqliteError &e) {
            failed(e);
            return Read::Missing;
        } catch (const std::exception &e) { // no memory for a large text
            setError(QString::fromUtf8(e.what()));
            return Read::Missing;
        }
        returnReader(std::move(reader));
        if (end == TextPiecesEnd::Damaged && !ruledOut)
            return Read::Missing;
        try {
            enqueue({Operation::Touch, path, identity, QByteArray(), 0, QByteArray(), entryId,
                     NextUseTime()},
                    0);
        } catch (const std::exception &e) {
            setError(QString::fromUtf8(e.what()));
        }
        if (end == TextPiecesEnd::Whole)
            return Read::Whole;
        return ruledOut ? Read::RuledOut : Read::Stopped;
    }

    // Whether Filter lets the entry's text be read, given its stored fingerprint (inside the
    // lookup's read transaction).
    static bool admitted(Reader &reader, qint64 entryId,
                         const ExtractedTextCache::FingerprintFilter &filter)
    {
        if (!reader.fingerprint)
            return filter({});
        Statement &fingerprint = *reader.fingerprint;
        ResetGuard guard(fingerprint);
        fingerprint.bind(1, entryId);
        if (!fingerprint.step())
            return filter({});
        qsizetype size = 0;
        const char *data = fingerprint.blob(0, size);
        return filter(QByteArrayView(data, size));
    }

    bool takesStore(const QByteArray &path, const FileIdentity &identity) const
    {
        return m_available && !path.isEmpty() &&
               (m_settleNs <= 0 ||
                NowNs() - std::max(identity.changedNs, identity.modifiedNs) >= m_settleNs);
    }

    void store(const QByteArray &path, const FileIdentity &identity, TextCompressor &text,
               const QByteArray &fingerprint)
    {
        if (!takesStore(path, identity))
            return;
        try {
            QByteArray stored;
            qint64 textBytes = 0;
            if (!text.finish(stored, textBytes))
                return;
            const qint64 bytes = stored.size() + path.size() + fingerprint.size();
            enqueue({Operation::Store, path, identity, std::move(stored), textBytes, fingerprint, 0,
                     NextUseTime()},
                    bytes);
        } catch (const std::exception &e) {
            setError(QString::fromUtf8(e.what()));
        }
    }

    void flush(bool briefly)
    {
        if (briefly)
            m_writerWait.limitMs = kBriefWriterBusyTimeoutMs;
        std::unique_lock lock(m_queueMutex);
        if (!m_thread.joinable())
            return;
        const quint64 target = m_enqueued;
        m_flushRequested = true;
        m_queueCv.notify_all();
        m_doneCv.wait(lock, [&] { return m_written >= target && !m_rebuildRequested; });
    }

    QString lastError() const
    {
        std::lock_guard lock(m_errorMutex);
        return m_lastError;
    }

    std::atomic<bool> m_available{false};

private:
    void setError(const QString &text)
    {
        std::lock_guard lock(m_errorMutex);
        m_lastError = text;
    }

    void failed(const SqliteError &e)
    {
        setError(QString::fromUtf8(e.what()));
        if (e.isCorruption() && !m_damaged.exchange(true)) {
            std::lock_guard lock(m_queueMutex);
            m_rebuildRequested = true;
            m_queueCv.notify_all();
        }
    }

    void enqueue(Operation operation, qint64 bytes)
    {
        std::lock_guard lock(m_queueMutex);
        if (m_stop || (m_queuedBytes > 0 && m_queuedBytes + bytes > kMaxQueuedBytes))
            return;
        const bool wasEmpty = m_queue.empty();
        m_queue.push_back(std::move(operation));
        m_queuedBytes += bytes;
        ++m_enqueued;
        // The writer waits for a first operation, then gathers more until the batch delay is
        // over or the queue has grown large: only then is it woken (a search that finds every
        // text cached queues one touch per file).
        if (wasEmpty || m_queuedBytes >= kMaxQueuedBytes / 4)
            m_queueCv.notify_all();
    }

    // --- the database file

    // Opens the folder (made when missing) through folders no other user can change, and
    // names the database through its descriptor: every later open goes to this very folder.
    bool prepareFolder()
    {
        m_folderFd.reset();
        const QString folder = DecodeFileName(m_folder);
        const QFileInfo info(folder);
        QDir().mkpath(info.path());
        const TrustedFolder parent = TrustedFolder::OpenPath(EncodeFileName(info.path()));
        const TrustedFolder own =
            parent.isOpen() ? TrustedFolder::OpenOwn(parent, EncodeFileName(info.fileName()))
                            : TrustedFolder();
        const TrustedFolder &last = parent.isOpen() ? own : parent;
        switch (last.problem) {
        case TrustedFolder::Problem::None:
            break;
        case TrustedFolder::Problem::SystemError:
            setError(DecodeFileName(last.path) + QStringLiteral(": ") +
                     QString::fromLocal8Bit(strerror(last.error)));
            return false;
        case TrustedFolder::Problem::OtherOwner:
            setError(QStringLiteral("The folder belongs to another user: ") +
                     DecodeFileName(last.path));
            return false;
        case TrustedFolder::Problem::OthersCanWrite:
            setError(QStringLiteral("Other users can change the folder: ") +
                     DecodeFileName(last.path));
            return false;
        }
        const QByteArray byDescriptor = "/proc/self/fd/" + QByteArray::number(own.fd.get());
        struct stat viaProc, direct;
        if (::stat(byDescriptor.constData(), &viaProc) != 0 ||
            ::fstat(own.fd.get(), &direct) != 0 || viaProc.st_dev != direct.st_dev ||
            viaProc.st_ino != direct.st_ino) {
            setError(QStringLiteral("Cannot reach the cache folder through /proc"));
            return false;
        }
        m_folderFd.reset(::dup(own.fd.get()));
        if (!m_folderFd)
            return false;
        m_dbPath = "/proc/self/fd/" + QByteArray::number(m_folderFd.get()) + '/' +
                   EncodeFileName(FileName());
        return true;
    }

    // Opens the database with the writer's connection; with MoveAsideFirst, the file found
    // damaged is renamed first (unless another program has replaced it meanwhile).
    bool openDatabase(bool moveAsideFirst)
    {
        // No memory statistics: they take one lock of the whole process for every allocation
        // of every connection, and the lookups of several threads then wait on each other.
        // Only possible before SQLite is first used; later it is simply refused.
        static const bool configured = [] {
            sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
            return true;
        }();
        (void)configured;
        if (!prepareFolder())
            return false;
        OpenLock lock(m_folderFd.get(), EncodeFileName(FileName()) + ".lock");
        if (!lock.held()) {
            setError(QStringLiteral("Cannot lock the cache folder"));
            return false;
        }
        if (moveAsideFirst) {
            struct stat st;
            if (::fstatat(m_folderFd.get(), EncodeFileName(FileName()).constData(), &st,
                          AT_SYMLINK_NOFOLLOW) == 0 &&
                st.st_dev == m_fileDevice && st.st_ino == m_fileInode && !moveAside())
                return false;
        }
        for (int attempt = 0; attempt < 2; ++attempt) {
            switch (tryOpen()) {
            case OpenResult::Open:
                return true;
            case OpenResult::Unusable:
                closeDatabase();
                return false;
            case OpenResult::Untrusted:
                closeDatabase();
                if (!moveAside())
                    return false;
                break;
            }
        }
        return false;
    }

    OpenResult tryOpen()
    {
        UniqueFd fd(::openat(m_folderFd.get(), EncodeFileName(FileName()).constData(),
                             O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!fd) {
            setError(QStringLiteral("Cannot open the cache: ") +
                     QString::fromLocal8Bit(strerror(errno)));
            return OpenResult::Unusable;
        }
        struct stat st;
        const bool ours = ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) &&
                          st.st_uid == geteuid() &&
                          ((st.st_mode & 07777) == 0600 || ::fchmod(fd.get(), 0600) == 0);
        fd.reset();
        if (!ours) {
            setError(QStringLiteral("The cache file is not a private file of this user"));
            return OpenResult::Unusable;
        }
        m_fileDevice = st.st_dev;
        m_fileInode = st.st_ino;
        const int rc =
            sqlite3_open_v2(m_dbPath.constData(), &m_writer,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, CheckedVfsName());
        if (rc != SQLITE_OK) {
            setError(QString::fromUtf8(sqlite3_errstr(rc)));
            return OpenResult::Unusable;
        }
        Configure(m_writer, m_writerWait);
        // The writer empties the WAL itself after each batch (SQLite's automatic checkpoint
        // would only copy it, see emptyWal).
        sqlite3_wal_hook(m_writer, &Impl::noCheckpoint, nullptr);
        try {
            const qint64 applicationId = QueryInteger(m_writer, "PRAGMA application_id");
            const qint64 version = QueryInteger(m_writer, "PRAGMA user_version");
            const qint64 objects = QueryInteger(m_writer, "SELECT count(*) FROM sqlite_master");
            if (applicationId == 0 && version == 0 && objects == 0) {
                createSchema();
            } else if (applicationId != kApplicationId) {
                setError(QStringLiteral("The cache file is not ours"));
                return OpenResult::Untrusted;
            } else if (version > kSchemaVersion) {
                // A newer program's cache: leave it to that program.
                setError(QStringLiteral("The cache was made by a newer version"));
                return OpenResult::Unusable;
            } else if (version >= kOldestUpgradableVersion && version < kSchemaVersion) {
                upgradeSchema();
            } else if (version != kSchemaVersion) {
                setError(QStringLiteral("The cache was made by an older version"));
                return OpenResult::Untrusted;
            }
            if (QueryText(m_writer, "PRAGMA journal_mode = WAL") != "wal")
                return OpenResult::Unusable;
            Exec(m_writer, "PRAGMA synchronous = NORMAL");
            addFingerprintTable();
            m_statements = std::make_unique<WriterStatements>(m_writer);
            Statement &total = m_statements->total;
            ResetGuard guard(total);
            total.step();
            return OpenResult::Open;
        } catch (const SqliteError &e) {
            setError(QString::fromUtf8(e.what()));
            // Our marker with other tables, or damaged pages: not to be trusted.
            const int code = e.code & 0xff;
            return e.isCorruption() || code == SQLITE_ERROR ? OpenResult::Untrusted
                                                            : OpenResult::Unusable;
        }
    }

    void createSchema()
    {
        Exec(m_writer, "PRAGMA auto_vacuum = INCREMENTAL");
        QueryText(m_writer, "PRAGMA journal_mode = WAL");
        setSchema([this] {
            Exec(m_writer, kSchema);
            Exec(m_writer,
                 ("PRAGMA application_id = " + QByteArray::number(kApplicationId)).constData());
        });
    }

    // Runs Change and stamps the schema's version, all in one write transaction.
    template <typename Change> void setSchema(Change change)
    {
        Exec(m_writer, "BEGIN IMMEDIATE");
        try {
            change();
            Exec(m_writer,
                 ("PRAGMA user_version = " + QByteArray::number(kSchemaVersion)).constData());
            Exec(m_writer, "COMMIT");
        } catch (...) {
            sqlite3_exec(m_writer, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    void upgradeSchema()
    {
        setSchema([this] {
            Exec(m_writer,
                 "ALTER TABLE entries ADD COLUMN content_hash INTEGER NOT NULL DEFAULT 0");
        });
    }

    // The table of the fingerprints, in a database made before it (or by a program without
    // it, which left it out): added when missing; a cache without it works as before.
    void addFingerprintTable()
    {
        if (QueryInteger(m_writer, "SELECT count(*) FROM sqlite_master WHERE type = 'trigger' "
                                   "AND name = 'texts_removed_fingerprint'") > 0)
            return;
        if (sqlite3_exec(m_writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
            return;
        if (sqlite3_exec(m_writer, kFingerprintSchema, nullptr, nullptr, nullptr) == SQLITE_OK)
            sqlite3_exec(m_writer, "COMMIT", nullptr, nullptr, nullptr);
        else
            sqlite3_exec(m_writer, "ROLLBACK", nullptr, nullptr, nullptr);
    }

    // Renames the database and its WAL files to FileName() + ".bad" (replacing an earlier
    // one, so damage never piles up).
    bool moveAside()
    {
        for (const char *suffix : {"", "-wal", "-shm"}) {
            const QByteArray from = EncodeFileName(FileName()) + suffix;
            const QByteArray to = EncodeFileName(FileName()) + ".bad" + suffix;
            if (::renameat(m_folderFd.get(), from.constData(), m_folderFd.get(), to.constData()) !=
                0) {
                if (errno != ENOENT) {
                    setError(QStringLiteral("Cannot move the damaged cache aside"));
                    return false;
                }
                ::unlinkat(m_folderFd.get(), to.constData(), 0);
            }
        }
        return true;
    }

    void closeDatabase()
    {
        m_statements.reset();
        Close(m_writer);
    }

    // --- readers

    std::unique_ptr<Reader> takeReader()
    {
        {
            std::lock_guard lock(m_readersMutex);
            if (!m_idleReaders.empty()) {
                std::unique_ptr<Reader> reader = std::move(m_idleReaders.back());
                m_idleReaders.pop_back();
                return reader;
            }
        }
        auto reader = std::make_unique<Reader>();
        Check(nullptr,
              sqlite3_open_v2(m_dbPath.constData(), &reader->db,
                              SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, CheckedVfsName()));
        Configure(reader->db, reader->wait);
        // A search reads each text once: a page cache of the usual 2 MiB per reader only
        // costs fresh memory in every thread.
        sqlite3_exec(reader->db, "PRAGMA cache_size = -64", nullptr, nullptr, nullptr);
        reader->lookup = std::make_unique<Statement>(reader->db, kLookupSql);
        try {
            reader->fingerprint = std::make_unique<Statement>(
                reader->db, "SELECT data FROM fingerprints WHERE id = ?1");
        } catch (const SqliteError &) {
        }
        return reader;
    }

    void returnReader(std::unique_ptr<Reader> reader)
    {
        std::lock_guard lock(m_readersMutex);
        if (m_idleReaders.size() < kMaxIdleReaders)
            m_idleReaders.push_back(std::move(reader));
    }

    void closeReaders()
    {
        std::lock_guard lock(m_readersMutex);
        m_idleReaders.clear();
    }

    // --- the writer thread

    void writerLoop()
    {
        std::unique_lock lock(m_queueMutex);
        for (;;) {
            m_queueCv.wait(lock, [&] { return m_stop || m_rebuildRequested || !m_queue.empty(); });
            if (!m_stop && !m_rebuildRequested && !m_flushRequested)
                m_queueCv.wait_for(lock, kBatchDelay, [&] {
                    return m_stop || m_flushRequested || m_rebuildRequested ||
                           m_queuedBytes >= kMaxQueuedBytes / 4;
                });
            std::vector<Operation> batch;
            batch.swap(m_queue);
            m_queuedBytes = 0;
            m_flushRequested = false;
            const bool rebuild = m_rebuildRequested;
            const quint64 upTo = m_enqueued;
            lock.unlock();
            // The thread must outlive any failure: what fails is only not cached.
            try {
                if (rebuild)
                    rebuildDatabase();
                if (!batch.empty() && m_available)
                    writeBatch(batch);
            } catch (const std::exception &e) {
                setError(QString::fromUtf8(e.what()));
            }
            batch.clear(); // the texts are freed outside the lock
            lock.lock();
            if (rebuild)
                m_rebuildRequested = false;
            m_written = upTo;
            m_doneCv.notify_all();
            if (m_stop && m_queue.empty())
                return;
        }
    }

    void rebuildDatabase()
    {
        std::unique_lock state(m_stateLock);
        closeReaders();
        closeDatabase();
        m_available = openDatabase(true);
        m_damaged = false;
    }

    void writeBatch(const std::vector<Operation> &batch)
    {
        std::vector<PreparedStore> stores;
        std::map<qint64, const Operation *> touches;
        for (const Operation &operation : batch) {
            if (operation.kind == Operation::Touch) {
                touches[operation.entryId] = &operation;
                continue;
            }
            const qint64 cost = operation.stored.size() + operation.fingerprint.size() +
                                operation.path.size() + kEntryOverhead;
            if (cost > m_maxBytes)
                continue;
            stores.push_back({&operation, operation.stored, operation.textBytes, cost});
        }
        if (stores.empty() && touches.empty())
            return;
        bool evicted = false;
        try {
            Exec(m_writer, "BEGIN IMMEDIATE");
            try {
                for (const PreparedStore &store : stores)
                    writeStore(store);
                for (const auto &[id, operation] : touches) {
                    Statement &touch = m_statements->touch;
                    ResetGuard guard(touch);
                    touch.bind(1, operation->usedAt).bind(2, id).bind(3, operation->path).step();
                }
                evicted = evict();
                Exec(m_writer, "COMMIT");
            } catch (...) {
                sqlite3_exec(m_writer, "ROLLBACK", nullptr, nullptr, nullptr);
                throw;
            }
            if (evicted)
                sqlite3_exec(m_writer, "PRAGMA incremental_vacuum", nullptr, nullptr, nullptr);
            emptyWal();
        } catch (const SqliteError &e) {
            // Busy past the time-out, disk full, damage: this batch is lost, the searches
            // go on without it.
            failed(e);
        }
    }

    static int noCheckpoint(void *, sqlite3 *, const char *, int) { return SQLITE_OK; }

    // Copies the WAL into the database and cuts it to nothing. A WAL that is only copied starts
    // again at the next write, but a program that opens the database first rebuilds its index
    // from the whole file and must then go on from its end: with searches run by programs that
    // come and go (delvora-find), it grew by every search's touches without end, and each start
    // read it all. Never waits: while a reader of any program still reads from the WAL the
    // checkpoint gives way, and the next batch tries again.
    void emptyWal()
    {
        m_writerWait.noWait = true;
        sqlite3_wal_checkpoint_v2(m_writer, "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
        m_writerWait.noWait = false;
    }

    void writeStore(const PreparedStore &store)
    {
        const Operation &operation = *store.operation;
        Statement &upsert = m_statements->upsert;
        qint64 id;
        {
            ResetGuard guard(upsert);
            upsert.bind(1, operation.path)
                .bind(2, AsStored(operation.identity.device))
                .bind(3, AsStored(operation.identity.inode))
                .bind(4, operation.identity.size)
                .bind(5, operation.identity.modifiedNs)
                .bind(6, operation.identity.changedNs)
                .bind(7, store.textBytes)
                .bind(8, store.cost)
                .bind(9, operation.usedAt)
                .bind(10, AsStored(operation.identity.contentHash));
            if (!upsert.step())
                throw SqliteError(m_writer, SQLITE_ERROR);
            id = upsert.integer(0);
            while (upsert.step()) {
            }
        }
        {
            Statement &putText = m_statements->putText;
            ResetGuard guard(putText);
            putText.bind(1, id).bind(2, store.frame).step();
        }
        // After the text, whose insertion dropped any fingerprint of the one before.
        if (!operation.fingerprint.isEmpty()) {
            Statement &putFingerprint = m_statements->putFingerprint;
            ResetGuard guard(putFingerprint);
            putFingerprint.bind(1, id).bind(2, operation.fingerprint).step();
        }
    }

    // Removes the least recently used entries until the total fits the bound.
    bool evict()
    {
        qint64 total;
        {
            Statement &statement = m_statements->total;
            ResetGuard guard(statement);
            total = statement.step() ? statement.integer(0) : 0;
        }
        if (total <= m_maxBytes)
            return false;
        std::vector<qint64> victims;
        {
            Statement &oldest = m_statements->oldest;
            ResetGuard guard(oldest);
            while (total > m_maxBytes && oldest.step()) {
                victims.push_back(oldest.integer(0));
                total -= oldest.integer(1);
            }
        }
        Statement &remove = m_statements->remove;
        for (qint64 id : victims) {
            ResetGuard guard(remove);
            remove.bind(1, id).step();
        }
        return !victims.empty();
    }

    const QByteArray m_folder;
    // The checked folder, and the database named through it; replaced only while no
    // connection is open.
    UniqueFd m_folderFd;
    QByteArray m_dbPath;
    const qint64 m_maxBytes;
    const qint64 m_settleNs;

    // Set when a lookup met damage: lookups miss until the writer has rebuilt the database.
    std::atomic<bool> m_damaged{false};
    mutable std::mutex m_errorMutex;
    QString m_lastError;

    // Shared by each lookup, exclusive while the database is replaced.
    std::shared_mutex m_stateLock;
    std::mutex m_readersMutex;
    std::vector<std::unique_ptr<Reader>> m_idleReaders;

    // Used by the constructor, then only by the writer thread.
    sqlite3 *m_writer = nullptr;
    BusyWait m_writerWait{kWriterBusyTimeoutMs};
    std::unique_ptr<WriterStatements> m_statements;
    dev_t m_fileDevice = 0;
    ino_t m_fileInode = 0;

    std::mutex m_queueMutex;
    std::condition_variable m_queueCv;
    std::condition_variable m_doneCv;
    std::vector<Operation> m_queue;
    qint64 m_queuedBytes = 0;
    quint64 m_enqueued = 0;
    quint64 m_written = 0;
    bool m_stop = false;
    bool m_flushRequested = false;
    bool m_rebuildRequested = false;
    std::thread m_thread;
};

ExtractedTextCache::ExtractedTextCache(const QString &folder, qint64 maxBytes, int settleMs)
    : d(std::make_unique<Impl>(folder, maxBytes, settleMs))
{}

ExtractedTextCache::~ExtractedTextCache() = default;

ExtractedTextCache &ExtractedTextCache::Instance()
{
    static ExtractedTextCache cache(DefaultFolder());
    return cache;
}

QString ExtractedTextCache::DefaultFolder()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::home().filePath(QStringLiteral(".cache"));
    return QDir(base).filePath(QStringLiteral("delvora"));
}

QString ExtractedTextCache::FileName()
{
    return QStringLiteral("extracted-text.db");
}

bool ExtractedTextCache::isAvailable() const
{
    return d->m_available;
}

QString ExtractedTextCache::lastError() const
{
    return d->lastError();
}

std::optional<QString> ExtractedTextCache::lookup(const QByteArray &path,
                                                  const FileIdentity &identity)
{
    return d->lookup(path, identity);
}

bool ExtractedTextCache::lookupUtf8(const QByteArray &path, const FileIdentity &identity,
                                    QByteArray &utf8)
{
    return d->lookupUtf8(path, identity, utf8);
}

ExtractedTextCache::Read ExtractedTextCache::readUtf8(const QByteArray &path,
                                                      const FileIdentity &identity,
                                                      const TextPieceVisitor &visit,
                                                      const FingerprintFilter &filter,
                                                      bool checkFirst)
{
    return d->readUtf8(path, identity, visit, filter, checkFirst);
}

void ExtractedTextCache::store(const QByteArray &path, const FileIdentity &identity,
                               const QString &text, const QByteArray &fingerprint)
{
    if (!d->takesStore(path, identity))
        return;
    TextCompressor compressor;
    compressor.append(text);
    d->store(path, identity, compressor, fingerprint);
}

void ExtractedTextCache::store(const QByteArray &path, const FileIdentity &identity,
                               TextCompressor &text, const QByteArray &fingerprint)
{
    d->store(path, identity, text, fingerprint);
}

void ExtractedTextCache::flush(bool briefly)
{
    d->flush(briefly);
}

} // namespace dv
