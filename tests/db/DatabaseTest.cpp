#include "db/Database.h"
#include "db/DatabaseException.h"
#include "db/FormatableSQL.h"
#include "db/RowSet.h"
#include "db/Statement.h"
#include "tests/support/SqliteRows.h"
#include "tests/support/TempDir.h"
#include "tests/support/GermanLocale.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

using namespace velmora;
using velmora::test::TempDir;

namespace {

class DatabaseTest : public ::testing::Test {
protected:
    void SetUp() override { m_db.open(m_dir.file("test.db").c_str(), 0); }

    TempDir m_dir;
    Database m_db;
};

} // namespace

TEST_F(DatabaseTest, QueryWithoutRowsEndsAtOnce)
{
    m_db.execute("CREATE TABLE t(a INTEGER, b TEXT);");
    RowSet rows(m_db, "SELECT a, b FROM t;");
    EXPECT_FALSE(rows.next());
    EXPECT_EQ(rows.getColumnCount(), 2);
    EXPECT_STREQ(rows.getColumnName(1), "b");
}

TEST_F(DatabaseTest, ColumnsReadByTypeAndNullTextIsAbsent)
{
    m_db.execute("CREATE TABLE t(a INTEGER, b TEXT, c BLOB);"
                 "INSERT INTO t VALUES (42, NULL, x'000102');");
    RowSet rows(m_db, "SELECT a, b, c FROM t;");
    ASSERT_TRUE(rows.next());
    EXPECT_EQ(rows.getInt(0), 42);
    EXPECT_EQ(rows.getText(1), nullptr);
    ASSERT_EQ(rows.getBytes(2), 3);
    EXPECT_EQ(std::memcmp(rows.getBlob(2), "\x00\x01\x02", 3), 0);
    EXPECT_FALSE(rows.next());
}

TEST_F(DatabaseTest, QueryRunsOnlyTheFirstStatement)
{
    m_db.execute("CREATE TABLE t(a INTEGER);");
    RowSet rows(m_db, "SELECT 1; INSERT INTO t VALUES (7);");
    ASSERT_TRUE(rows.next());
    EXPECT_EQ(rows.getInt(0), 1);
    EXPECT_FALSE(rows.next());
    rows.close();
    RowSet count(m_db, "SELECT COUNT(*) FROM t;");
    ASSERT_TRUE(count.next());
    EXPECT_EQ(count.getInt(0), 0);
}

// Every throw site carries the connection's code and SQLite's own text.
TEST_F(DatabaseTest, FailuresThrowWithTheConnectionsError)
{
    m_db.execute("CREATE TABLE t(a INTEGER UNIQUE);"
                 "INSERT INTO t VALUES (1);");
    struct Case {
        const char* what;
        void (*action)(Database&);
        int code;
        const char* messagePart;
        const char* file;
    };
    const Case cases[] = {
        {"nested BEGIN", [](Database& db) {
             db.execute("BEGIN;");
             db.execute("BEGIN;");
         },
         SQLITE_ERROR, "cannot start a transaction within a transaction", "Database.cpp"},
        {"syntax", [](Database& db) { db.execute("SELEKT 1;"); }, SQLITE_ERROR, "syntax error",
         "Database.cpp"},
        {"query compile", [](Database& db) { RowSet rows(db, "SELECT nope FROM t;"); },
         SQLITE_ERROR, "no such column: nope", "RowSet.cpp"},
        {"step", [](Database& db) {
             RowSet rows(db, "INSERT INTO t VALUES (1) RETURNING a;");
             rows.next();
         },
         SQLITE_CONSTRAINT, "UNIQUE constraint failed: t.a", "RowSet.cpp"},
        {"prepare", [](Database& db) { Statement statement(db, "INSERT INTO nope VALUES (1);"); },
         SQLITE_ERROR, "no such table: nope", "Statement.cpp"},
        {"execute", [](Database& db) {
             Statement statement(db, "INSERT INTO t VALUES (1);");
             statement.execute();
         },
         SQLITE_CONSTRAINT, "UNIQUE constraint failed: t.a", "Statement.cpp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            c.action(m_db);
            ADD_FAILURE() << "no exception";
        } catch (const DatabaseException& e) {
            EXPECT_EQ(e.getErrorCode() & 0xFF, c.code);
            EXPECT_NE(std::strstr(e.getMessage(), c.messagePart), nullptr) << e.getMessage();
            EXPECT_STREQ(e.getName(), "DatabaseException");
            const std::string file = e.getFile();
            EXPECT_EQ(file.substr(file.size() - std::strlen(c.file)), c.file);
        }
        try {
            m_db.execute("ROLLBACK;");
        } catch (const DatabaseException&) {
        }
    }
}

TEST_F(DatabaseTest, StatementThatYieldsARowThrows)
{
    Statement statement(m_db, "SELECT 1;");
    EXPECT_THROW(statement.execute(), DatabaseException);
}

// The connection overwrites its error text at the next call; the exception
// must keep the text it was made with.
TEST_F(DatabaseTest, ExceptionKeepsItsTextAfterLaterCalls)
{
    try {
        m_db.execute("SELECT * FROM missing_table;");
        FAIL() << "no exception";
    } catch (const DatabaseException& e) {
        const DatabaseException copy(e);
        m_db.execute("CREATE TABLE later(a);");
        try {
            m_db.execute("SELEKT;");
        } catch (const DatabaseException&) {
        }
        EXPECT_STREQ(e.getMessage(), "no such table: missing_table");
        EXPECT_STREQ(copy.getMessage(), "no such table: missing_table");
    }
}

TEST_F(DatabaseTest, OpenInMissingDirectoryThrowsCantOpen)
{
    Database db;
    try {
        db.open(m_dir.file("no/such/dir/x.db").c_str(), 0);
        FAIL() << "no exception";
    } catch (const DatabaseException& e) {
        EXPECT_EQ(e.getErrorCode(), SQLITE_CANTOPEN);
    }
    db.close();
    EXPECT_FALSE(db.isOpen());
}

TEST_F(DatabaseTest, TableNamesListTablesAndViewsButNotInternalOnes)
{
    std::vector<std::string> names;
    m_db.getTableNames(names);
    EXPECT_TRUE(names.empty());

    m_db.execute("CREATE TABLE zeta (id INTEGER PRIMARY KEY AUTOINCREMENT);"
                 "INSERT INTO zeta DEFAULT VALUES;"
                 "CREATE VIEW alpha AS SELECT 1;"
                 "CREATE TEMP TABLE mid(a);");
    m_db.getTableNames(names);
    // sqlite_sequence exists now (AUTOINCREMENT) and must not appear.
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "mid", "zeta"}));
}

TEST_F(DatabaseTest, StatementBindsByIndexAndNameAndPreparesAgain)
{
    m_db.execute("CREATE TABLE t(a, b, c);");
    Statement statement(m_db, "INSERT INTO t VALUES (:a, :b, :c);");
    const char text[] = "it's";
    EXPECT_EQ(statement.bindInt(1, -5), SQLITE_OK);
    EXPECT_EQ(statement.bindText(":b", text), SQLITE_OK);
    EXPECT_EQ(statement.bindBlob(":c", "\x01\x02", 2), SQLITE_OK);
    EXPECT_EQ(statement.bindInt(":missing", 1), SQLITE_RANGE);
    statement.execute();
    statement.finalize();
    statement.prepare("INSERT INTO t VALUES (1, 2, '3');");
    statement.execute();
    EXPECT_EQ(m_db.changes(), 1);
    EXPECT_EQ(test::queryRows(m_dir.file("test.db"), "SELECT a, b, hex(c) FROM t ORDER BY rowid;"),
              (test::Rows{{"-5", "it's", "0102"}, {"1", "2", "33"}}));
}

TEST_F(DatabaseTest, FormatableSqlQuotesValues)
{
    FormatableSQL empty;
    EXPECT_EQ(empty.getText(), nullptr);
    struct Row {
        const char* value;
        const char* quoted;
    };
    const Row rows[] = {
        {"plain", "'plain' 7 key"},
        {"it's", "'it''s' 7 key"},
        {"100% '' %s", "'100% '''' %s' 7 key"},
        {"", "'' 7 key"},
    };
    m_db.execute("CREATE TABLE t(v TEXT);");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        FormatableSQL sql("'%q' %d %s", row.value, 7, "key");
        EXPECT_STREQ(sql.getText(), row.quoted);
        sql.format("INSERT INTO t VALUES ('%q');", row.value);
        m_db.execute(sql.getText());
        RowSet back(m_db, "SELECT v FROM t ORDER BY rowid DESC LIMIT 1;");
        ASSERT_TRUE(back.next());
        EXPECT_STREQ(back.getText(0), row.value);
    }
}

TEST_F(DatabaseTest, NumbersInStatementsIgnoreTheProcessLocale)
{
    // A decimal comma in a statement would store a different number, or
    // give the VALUES list one column too many.
    test::GermanLocale german;
    ASSERT_TRUE(german.isActive()) << german.why();
    m_db.execute("CREATE TABLE n(a, b TEXT);");
    FormatableSQL sql("INSERT INTO n VALUES (%f, '%.2f');", 37.387458, 0.13);
    EXPECT_STREQ(sql.getText(), "INSERT INTO n VALUES (37.387458, '0.13');");
    m_db.execute(sql.getText());
    RowSet back(m_db, "SELECT typeof(a), a * 1000000, b FROM n;");
    ASSERT_TRUE(back.next());
    EXPECT_STREQ(back.getText(0), "real");
    EXPECT_EQ(back.getInt(1), 37387458);
    EXPECT_STREQ(back.getText(2), "0.13");
}

TEST_F(DatabaseTest, BusyTimeoutWaitsForALockToGo)
{
    const std::string path = m_dir.file("test.db");
    m_db.execute("CREATE TABLE t(a);");
    Database holder;
    holder.open(path.c_str(), 0);
    holder.execute("BEGIN EXCLUSIVE;");

    // No time-out: fails at once with SQLite's busy code.
    try {
        m_db.execute("INSERT INTO t VALUES (1);");
        FAIL() << "no exception";
    } catch (const DatabaseException& e) {
        EXPECT_EQ(e.getErrorCode(), SQLITE_BUSY);
    }

    // With one: waits until the holder lets go.
    Database waiter;
    waiter.open(path.c_str(), 5000);
    std::thread release([&holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        holder.execute("COMMIT;");
    });
    EXPECT_NO_THROW(waiter.execute("INSERT INTO t VALUES (2);"));
    release.join();
    EXPECT_EQ(test::queryValue(path, "SELECT a FROM t;"), "2");
}
