#include "service/database.h"

#include "service/log.h"

#include <sqlite3.h>

#include <cstdio>
#include <ctime>

namespace svc {
namespace {

[[noreturn]] void fail(sqlite3 *db, const std::string &what)
{
    throw DatabaseError(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

const char *const schemaV1 = R"sql(
CREATE TABLE entries (
    id          INTEGER PRIMARY KEY AUTOINCREMENT,
    parent_id   INTEGER REFERENCES entries(id) ON DELETE CASCADE,
    type        INTEGER NOT NULL,
    name        TEXT NOT NULL,
    real_path   TEXT NOT NULL UNIQUE,
    size        INTEGER NOT NULL DEFAULT 0,
    mtime_ms    INTEGER NOT NULL DEFAULT 0,
    width       INTEGER NOT NULL DEFAULT 0,
    height      INTEGER NOT NULL DEFAULT 0,
    duration_ms INTEGER NOT NULL DEFAULT 0,
    codec       TEXT NOT NULL DEFAULT ''
);
CREATE INDEX entries_parent ON entries(parent_id);
CREATE TABLE covers (
    entry_id INTEGER PRIMARY KEY REFERENCES entries(id) ON DELETE CASCADE,
    jpeg     BLOB NOT NULL
);
CREATE TABLE settings (
    key   TEXT PRIMARY KEY,
    value TEXT NOT NULL
);
)sql";

// Version 2: the stereo and spherical layout read from the file.
const char *const schemaV2 = R"sql(
ALTER TABLE entries ADD COLUMN layout TEXT NOT NULL DEFAULT '';
)sql";

// Version 3: what the person took out of an imported tree, which rescans must not bring back,
// and the suffixes each imported tree was asked for, one per line ('' for the standard ones).
const char *const schemaV3 = R"sql(
CREATE TABLE exclusions (path TEXT PRIMARY KEY) WITHOUT ROWID;
ALTER TABLE entries ADD COLUMN filters TEXT NOT NULL DEFAULT '';
)sql";

// Version 4: what the players send back of a video (favourite, rating, where playback stopped,
// how often it was played) and the subtitle files beside it, one name per line.
const char *const schemaV4 = R"sql(
ALTER TABLE entries ADD COLUMN favorite INTEGER NOT NULL DEFAULT 0;
ALTER TABLE entries ADD COLUMN rating REAL NOT NULL DEFAULT 0;
ALTER TABLE entries ADD COLUMN position_ms INTEGER NOT NULL DEFAULT 0;
ALTER TABLE entries ADD COLUMN play_count INTEGER NOT NULL DEFAULT 0;
ALTER TABLE entries ADD COLUMN subtitles TEXT NOT NULL DEFAULT '';
)sql";

// Version 5: what decides whether the headset plays a video as it is: the container, the video
// codec's profile, bit depth and pixel format, and the audio codec. Videos read before are
// read again in the background (their container is empty until then).
const char *const schemaV5 = R"sql(
ALTER TABLE entries ADD COLUMN container TEXT NOT NULL DEFAULT '';
ALTER TABLE entries ADD COLUMN video_profile INTEGER NOT NULL DEFAULT -99;
ALTER TABLE entries ADD COLUMN bit_depth INTEGER NOT NULL DEFAULT 0;
ALTER TABLE entries ADD COLUMN pixel_format TEXT NOT NULL DEFAULT '';
ALTER TABLE entries ADD COLUMN audio_codec TEXT NOT NULL DEFAULT '';
)sql";

} // namespace

Statement::Statement(sqlite3 *db, const char *sql)
    : m_db(db)
{
    if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
        fail(db, "prepare");
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

Statement &Statement::bind(int index, int64_t value)
{
    sqlite3_bind_int64(m_stmt, index, value);
    return *this;
}

Statement &Statement::bind(int index, const std::string &text)
{
    sqlite3_bind_text(m_stmt, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement &Statement::bindReal(int index, double value)
{
    sqlite3_bind_double(m_stmt, index, value);
    return *this;
}

Statement &Statement::bindBlob(int index, const std::vector<uint8_t> &bytes)
{
    sqlite3_bind_blob(m_stmt, index, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement &Statement::bindNull(int index)
{
    sqlite3_bind_null(m_stmt, index);
    return *this;
}

Statement &Statement::bindParent(int index, int64_t parentId)
{
    return parentId > 0 ? bind(index, parentId) : bindNull(index);
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    fail(m_db, "step");
}

void Statement::reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

int64_t Statement::integer(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

double Statement::real(int column) const
{
    return sqlite3_column_double(m_stmt, column);
}

std::string Statement::text(int column) const
{
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    return data ? std::string(data, size_t(sqlite3_column_bytes(m_stmt, column))) : std::string();
}

std::vector<uint8_t> Statement::blob(int column) const
{
    const auto *data = static_cast<const uint8_t *>(sqlite3_column_blob(m_stmt, column));
    return data ? std::vector<uint8_t>(data, data + sqlite3_column_bytes(m_stmt, column))
                : std::vector<uint8_t>();
}

bool Statement::isNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

Connection::Connection(const std::string &file)
{
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(file.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        m_db = nullptr;
        throw DatabaseError("open " + file + ": " + message);
    }
    sqlite3_busy_timeout(m_db, 10000);
    sqlite3_extended_result_codes(m_db, 1);
    try {
        exec("PRAGMA foreign_keys = ON");
        exec("PRAGMA synchronous = NORMAL");
    } catch (...) {
        sqlite3_close(m_db);
        throw;
    }
}

Connection::~Connection()
{
    sqlite3_close(m_db);
}

void Connection::exec(const char *sql)
{
    char *message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : sqlite3_errmsg(m_db);
        sqlite3_free(message);
        throw DatabaseError(std::string(sql).substr(0, 40) + ": " + text);
    }
}

int64_t Connection::lastInsertId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

Transaction::Transaction(Connection &connection)
    : m_connection(connection)
{
    m_connection.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction()
{
    if (!m_done) {
        try {
            m_connection.exec("ROLLBACK");
        } catch (const DatabaseError &error) {
            logError("rollback failed: ", error.what());
        }
    }
}

void Transaction::commit()
{
    m_connection.exec("COMMIT");
    m_done = true;
}

Database::Lease::Lease(Database &db, std::unique_ptr<Connection> connection)
    : m_db(&db)
    , m_connection(std::move(connection))
{
}

Database::Lease::~Lease()
{
    if (m_connection)
        m_db->release(std::move(m_connection));
}

Database::Database(const std::string &file)
    : m_file(file)
{
    std::unique_ptr<Connection> first;
    try {
        first = open();
        migrate(*first);
    } catch (const DatabaseError &error) {
        // A damaged library must not keep the service from starting; keep it for inspection.
        first.reset();
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".broken-%lld",
                      static_cast<long long>(std::time(nullptr)));
        logError("library ", file, " unusable (", error.what(), "), moved aside to ", file, suffix);
        for (const char *extra : { "", "-wal", "-shm" })
            std::rename((file + extra).c_str(), (file + suffix + extra).c_str());
        first = open();
        migrate(*first);
    }
    release(std::move(first));
}

std::unique_ptr<Connection> Database::open()
{
    auto connection = std::make_unique<Connection>(m_file);
    Statement mode(connection->handle(), "PRAGMA journal_mode = WAL");
    mode.step();
    return connection;
}

void Database::migrate(Connection &connection)
{
    Statement versionQuery(connection.handle(), "PRAGMA user_version");
    versionQuery.step();
    const int64_t version = versionQuery.integer(0);
    versionQuery.reset();
    if (version > SchemaVersion)
        throw NewerSchemaError("library schema " + std::to_string(version) + " is newer than "
                               + std::to_string(SchemaVersion));
    // No integrity scan here: with thousands of covers it would delay the start past the
    // assistant's first listing request.
    if (version == SchemaVersion)
        return;
    Transaction transaction(connection);
    // Each step takes the library from one version to the next.
    if (version < 1)
        connection.exec(schemaV1);
    if (version < 2)
        connection.exec(schemaV2);
    if (version < 3)
        connection.exec(schemaV3);
    if (version < 4)
        connection.exec(schemaV4);
    if (version < 5)
        connection.exec(schemaV5);
    connection.exec(("PRAGMA user_version = " + std::to_string(SchemaVersion)).c_str());
    transaction.commit();
    logInfo("library schema set up at version ", SchemaVersion);
}

Database::Lease Database::connection()
{
    {
        std::lock_guard<std::mutex> lock(m_poolMutex);
        if (!m_idle.empty()) {
            auto connection = std::move(m_idle.back());
            m_idle.pop_back();
            return Lease(*this, std::move(connection));
        }
    }
    return Lease(*this, open());
}

void Database::release(std::unique_ptr<Connection> connection)
{
    std::lock_guard<std::mutex> lock(m_poolMutex);
    // A handful stays open; the rest are closed so that bursts do not pin file handles.
    if (m_idle.size() < 8)
        m_idle.push_back(std::move(connection));
}

} // namespace svc
