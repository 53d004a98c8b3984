#pragma once

#include <sqlite3.h>

#include <cstdint>

#include <QString>

#include "HistoryError.h"

namespace ostrel::history {

// One connection to an SQLite database, used by one thread at a time. Every failure is a
// HistoryError whose cause comes from SQLite's result code.
class Database {
public:
    enum class Mode {
        ReadWrite,  // creates the file when it is missing
        ReadOnly,   // HistoryError(Missing) when there is no file
    };

    // How long a statement waits for another connection's write before it counts as locked.
    static constexpr int kBusyTimeoutMs = 5000;

    Database(const QString& path, Mode mode, int busyTimeoutMs = kBusyTimeoutMs);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Runs statements that return no rows.
    void exec(const char* sql);
    // Runs `work` in one write transaction: committed when it returns, rolled back when it throws.
    template <typename Work>
    void transaction(Work work) {
        exec("BEGIN IMMEDIATE");
        try {
            work();
            exec("COMMIT");
        } catch (...) {
            rollback();
            throw;
        }
    }
    // The single integer a statement such as "PRAGMA user_version" returns.
    std::int64_t integer(const char* sql);

    // A prepared statement of this connection; parameters are numbered from 1.
    class Statement {
    public:
        Statement(Database& database, const char* sql);
        ~Statement();
        Statement(const Statement&) = delete;
        Statement& operator=(const Statement&) = delete;

        Statement& bind(int parameter, std::int64_t value);
        Statement& bind(int parameter, const QString& value);
        // An empty text binds NULL.
        Statement& bindTextOrNull(int parameter, const QString& value);
        // The next row: true while there is one. Runs the statement on the first call.
        bool step();
        // Ready to run again with new parameters.
        void reset();

        std::int64_t integer(int column) const;
        QString text(int column) const;  // empty for NULL

    private:
        Database& database_;
        sqlite3_stmt* statement_ = nullptr;
    };

    // Turns a result code other than SQLITE_OK, SQLITE_ROW and SQLITE_DONE into HistoryError.
    void check(int resultCode) const;
    const QString& path() const { return path_; }

private:
    void rollback() noexcept;

    QString path_;
    sqlite3* db_ = nullptr;
};

}  // namespace ostrel::history
