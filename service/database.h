#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace svc {

class DatabaseError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The library was written by a newer service; it is left alone rather than overwritten.
class NewerSchemaError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class Statement
{
public:
    Statement(sqlite3 *db, const char *sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int index, int64_t value);
    Statement &bind(int index, const std::string &text);
    Statement &bindReal(int index, double value);
    Statement &bindBlob(int index, const std::vector<uint8_t> &bytes);
    Statement &bindNull(int index);
    // Binds NULL for 0, which is how top-level entries store their parent.
    Statement &bindParent(int index, int64_t parentId);

    // Advances to the next row; false when there is none (or the statement did not return rows).
    bool step();
    void reset();

    int64_t integer(int column) const;
    double real(int column) const;
    std::string text(int column) const;
    std::vector<uint8_t> blob(int column) const;
    bool isNull(int column) const;

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

// One SQLite connection; each thread that touches the library uses its own.
class Connection
{
public:
    explicit Connection(const std::string &file);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    sqlite3 *handle() const { return m_db; }
    void exec(const char *sql);
    int64_t lastInsertId() const;

private:
    sqlite3 *m_db = nullptr;
};

// Rolls back unless committed, so an exception or a cancel leaves the library untouched.
class Transaction
{
public:
    explicit Transaction(Connection &connection);
    ~Transaction();
    void commit();

private:
    Connection &m_connection;
    bool m_done = false;
};

// The library file and a pool of connections to it. WAL lets readers go on while an import
// writes; writers are serialised here rather than left to SQLite's busy waiting.
class Database
{
public:
    static constexpr int SchemaVersion = 5;

    // Opens (creating or migrating) the library; a file that is not a database is moved aside.
    explicit Database(const std::string &file);

    class Lease
    {
    public:
        Lease(Database &db, std::unique_ptr<Connection> connection);
        ~Lease();
        Lease(Lease &&) = default;
        Connection &operator*() const { return *m_connection; }
        Connection *operator->() const { return m_connection.get(); }

    private:
        Database *m_db;
        std::unique_ptr<Connection> m_connection;
    };

    Lease connection();
    std::mutex &writeMutex() { return m_writeMutex; }

private:
    std::unique_ptr<Connection> open();
    void migrate(Connection &connection);
    void release(std::unique_ptr<Connection> connection);

    std::string m_file;
    std::mutex m_poolMutex;
    std::vector<std::unique_ptr<Connection>> m_idle;
    std::mutex m_writeMutex;
};

} // namespace svc
