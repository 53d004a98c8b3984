#include "Database.h"

#include <QFileInfo>

namespace ostrel::history {

namespace {

HistoryError::Cause causeOf(int resultCode) {
    switch (resultCode & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return HistoryError::Cause::Locked;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return HistoryError::Cause::Damaged;
        case SQLITE_FULL:
            return HistoryError::Cause::DiskFull;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_CANTOPEN:
            return HistoryError::Cause::ReadOnly;
        default:
            return HistoryError::Cause::Other;
    }
}

}  // namespace

Database::Database(const QString& path, Mode mode, int busyTimeoutMs) : path_(path) {
    if (mode == Mode::ReadOnly && !QFileInfo(path).isFile()) {
        throw HistoryError(HistoryError::Cause::Missing,
                           "there is no event history at " + path.toStdString());
    }
    const int flags = SQLITE_OPEN_NOMUTEX | (mode == Mode::ReadOnly
                                                 ? SQLITE_OPEN_READONLY
                                                 : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    const int opened = sqlite3_open_v2(path.toUtf8().constData(), &db_, flags, nullptr);
    if (opened != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(opened);
        sqlite3_close(db_);
        db_ = nullptr;
        throw HistoryError(causeOf(opened), message);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, busyTimeoutMs);
}

Database::~Database() { sqlite3_close(db_); }

void Database::check(int resultCode) const {
    if (resultCode == SQLITE_OK || resultCode == SQLITE_ROW || resultCode == SQLITE_DONE) {
        return;
    }
    throw HistoryError(causeOf(resultCode), sqlite3_errmsg(db_));
}

void Database::exec(const char* sql) { check(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr)); }

// The failure on its way says what went wrong; a rollback that fails too adds nothing to it.
void Database::rollback() noexcept { sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr); }

std::int64_t Database::integer(const char* sql) {
    Statement statement(*this, sql);
    return statement.step() ? statement.integer(0) : 0;
}

Database::Statement::Statement(Database& database, const char* sql) : database_(database) {
    database_.check(sqlite3_prepare_v2(database_.db_, sql, -1, &statement_, nullptr));
}

Database::Statement::~Statement() { sqlite3_finalize(statement_); }

Database::Statement& Database::Statement::bind(int parameter, std::int64_t value) {
    database_.check(sqlite3_bind_int64(statement_, parameter, value));
    return *this;
}

Database::Statement& Database::Statement::bind(int parameter, const QString& value) {
    const QByteArray utf8 = value.toUtf8();
    database_.check(
        sqlite3_bind_text(statement_, parameter, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT));
    return *this;
}

Database::Statement& Database::Statement::bindTextOrNull(int parameter, const QString& value) {
    if (value.isEmpty()) {
        database_.check(sqlite3_bind_null(statement_, parameter));
        return *this;
    }
    return bind(parameter, value);
}

bool Database::Statement::step() {
    const int result = sqlite3_step(statement_);
    database_.check(result);
    return result == SQLITE_ROW;
}

void Database::Statement::reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

std::int64_t Database::Statement::integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}

QString Database::Statement::text(int column) const {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return bytes ? QString::fromUtf8(bytes, sqlite3_column_bytes(statement_, column)) : QString();
}

}  // namespace ostrel::history
