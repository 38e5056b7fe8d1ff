#include "db/DatabaseException.h"
#include "db/Setup.h"
#include "db/SetupBatch.h"
#include "db/SetupDatabase.h"
#include "foundation/thread/ScopedLock.h"
#include "tests/support/SqliteRows.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace velmora;
using velmora::test::queryRows;
using velmora::test::queryValue;
using velmora::test::Rows;
using velmora::test::TempDir;

namespace {

class SetupTest : public ::testing::Test {
protected:
    void TearDown() override { velmora::Setup::getInstance().close(); }

    TempDir m_dir;
    std::string m_path = m_dir.file("setup.db");
};

const char* const kSetupTable = "CREATE TABLE setup(key text NOT NULL COLLATE NOCASE,value NOT "
                                "NULL DEFAULT '',UNIQUE(key));";

} // namespace

TEST_F(SetupTest, NewFileGetsTableAndSevenDefaults)
{
    velmora::Setup& setup = velmora::Setup::getInstance();
    setup.open(m_path.c_str());

    EXPECT_EQ(queryRows(m_path, "SELECT type, name, sql FROM sqlite_master WHERE name LIKE "
                                "'setup%' ORDER BY name;"),
              (Rows{{"table", "setup", std::string(kSetupTable, std::strlen(kSetupTable) - 1)},
                    {"index", "setup_idx", "CREATE UNIQUE INDEX setup_idx ON setup(key)"}}));
    EXPECT_EQ(queryRows(m_path, "SELECT key, value, typeof(value) FROM setup ORDER BY rowid;"),
              (Rows{{"Magic", "4915331", "integer"},
                    {"Version", "1.0.0", "text"},
                    {"Initialized", "1", "integer"},
                    {"setup/Port", "10111", "integer"},
                    {"setup/Driver", "Driver", "text"},
                    {"setup/Company", "Company", "text"},
                    {"setup/Image", "Image", "text"}}));

    EXPECT_EQ(setup.getInt(velmora::Setup::KEY_TIMEOUT_DURATION, velmora::Setup::DEFAULT_TIMEOUT_DURATION), 10);
    EXPECT_EQ(queryValue(m_path, "SELECT value FROM setup WHERE key='setup/TimeoutDuration';"),
              "10");
}

TEST_F(SetupTest, ExistingFileKeepsWhatItHasAndGetsReadDefaults)
{
    test::executeSql(m_path, std::string(kSetupTable) +
                                 "CREATE UNIQUE INDEX setup_idx ON setup(key);"
                                 "INSERT INTO setup VALUES ('Version', '0.9');");
    velmora::Setup& setup = velmora::Setup::getInstance();
    setup.open(m_path.c_str());
    EXPECT_EQ(queryValue(m_path, "SELECT COUNT(*) FROM setup;"), "1");
    EXPECT_EQ(setup.getInt("setup/Port", 10111), 10111);
    EXPECT_EQ(queryValue(m_path, "SELECT value FROM setup WHERE key='setup/Port';"), "10111");
}

TEST_F(SetupTest, KeysIgnoreCaseAndSetUpdatesWithoutDuplicates)
{
    velmora::Setup& setup = velmora::Setup::getInstance();
    setup.open(m_path.c_str());
    SetupDatabase& db = setup.getDatabase();
    EXPECT_EQ(setup.getInt("SETUP/PORT", 1), 10111);

    struct Row {
        const char* key;
        int32_t value;
    };
    const Row rows[] = {{"setup/Port", 8000}, {"SETUP/port", 9000}, {"new/Key", 5}, {"NEW/KEY", 6}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        ScopedLock lock(setup.getLock());
        db.begin();
        db.setInt(row.key, row.value);
        db.commit();
        EXPECT_EQ(setup.getInt(row.key, -1), row.value);
    }
    EXPECT_EQ(queryValue(m_path, "SELECT COUNT(*) FROM setup WHERE key='setup/port';"), "1");
    EXPECT_EQ(queryValue(m_path, "SELECT COUNT(*) FROM setup WHERE key='new/key';"), "1");
    EXPECT_EQ(queryValue(m_path, "SELECT value FROM setup WHERE key='new/key';"), "6");

    // A plain insert of a key that exists fails; OR REPLACE replaces.
    EXPECT_THROW(db.insertInt("setup/Port", 1, false), DatabaseException);
    db.insertInt("setup/Port", 2, true);
    EXPECT_EQ(db.getInt("setup/Port", 0), 2);
}

TEST_F(SetupTest, TextAndBooleanValuesRoundTrip)
{
    velmora::Setup& setup = velmora::Setup::getInstance();
    setup.open(m_path.c_str());
    SetupDatabase& db = setup.getDatabase();
    const char* const values[] = {"it's", "'';DROP TABLE setup;--", "100% %s %d", "", "Ünïcode"};
    for (const char* value : values) {
        SCOPED_TRACE(value);
        db.setString("app/Text", value);
        std::string back;
        db.getString("app/Text", back, "unused");
        EXPECT_EQ(back, value);
    }
    std::string fresh;
    db.getString("app/Missing", fresh, "fallback's");
    EXPECT_EQ(fresh, "fallback's");
    EXPECT_EQ(queryValue(m_path, "SELECT value FROM setup WHERE key='app/Missing';"), "fallback's");

    EXPECT_TRUE(db.getBool("Initialized", false));
    EXPECT_FALSE(db.getBool("app/Flag", false));
    db.setBool("app/Flag", true);
    EXPECT_TRUE(db.getBool("app/Flag", false));
}

TEST_F(SetupTest, KeysWithQuotesAndPercentSignsAreStoredAsGiven)
{
    // Keys are quoted like values, so no key can break or change a statement.
    velmora::Setup& setup = velmora::Setup::getInstance();
    setup.open(m_path.c_str());
    SetupDatabase& db = setup.getDatabase();
    const char* const keys[] = {"app/Driver's seat", "app/100%", "app/'; DROP TABLE setup; --"};
    const unsigned char blob[3] = {1, 2, 3};
    int32_t number = 0;
    for (const char* key : keys) {
        SCOPED_TRACE(key);
        const std::string k = key;
        db.setInt((k + " int").c_str(), ++number);
        db.setInt((k + " int").c_str(), number * 10); // the update finds the row
        db.setString((k + " text").c_str(), "first");
        db.setString((k + " text").c_str(), "it's");
        db.setBlob((k + " blob").c_str(), blob, 1);
        db.setBlob((k + " blob").c_str(), blob, sizeof blob);
        db.insertInt((k + " replaced").c_str(), 1, false);
        db.insertString((k + " replaced").c_str(), "again", true);
        db.insertBlob((k + " replaced blob").c_str(), blob, 2, true);
        EXPECT_EQ(setup.getInt((k + " int").c_str(), -1), number * 10);
        std::string text;
        db.getString((k + " text").c_str(), text, "unused");
        EXPECT_EQ(text, "it's");
    }
    const Rows stored = queryRows(m_path, "SELECT key, quote(value) FROM setup WHERE key LIKE 'app/%' ORDER BY rowid;");
    Rows expected;
    number = 0;
    for (const char* key : keys) {
        const std::string k = key;
        ++number;
        expected.push_back({k + " int", std::to_string(number * 10)});
        expected.push_back({k + " text", "'it''s'"});
        expected.push_back({k + " blob", "X'010203'"});
        expected.push_back({k + " replaced", "'again'"});
        expected.push_back({k + " replaced blob", "X'0102'"});
    }
    EXPECT_EQ(stored, expected);
}

TEST_F(SetupTest, BlobsCopyWhatFitsAndReportTheStoredSize)
{
    velmora::Setup& setup = velmora::Setup::getInstance();
    setup.open(m_path.c_str());
    SetupDatabase& db = setup.getDatabase();
    const unsigned char stored[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    db.setBlob("app/Blob", stored, sizeof stored);

    unsigned char small[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    int32_t length = 3;
    db.getBlob("app/Blob", small, length);
    EXPECT_EQ(length, 10);
    EXPECT_EQ(small[0], 0);
    EXPECT_EQ(small[2], 2);
    EXPECT_EQ(small[3], 0xEE);

    db.setBlob("app/Blob", stored + 5, 2);
    EXPECT_EQ(queryValue(m_path, "SELECT hex(value) FROM setup WHERE key='app/Blob';"), "0506");

    // A missing key stores the buffer's content as its default.
    unsigned char defaults[2] = {0xAB, 0xCD};
    length = 2;
    db.getBlob("app/NewBlob", defaults, length);
    EXPECT_EQ(queryValue(m_path, "SELECT hex(value) FROM setup WHERE key='app/NewBlob';"), "ABCD");
}

TEST_F(SetupTest, ImportSkipsExcludedPrefixesAndExportCopiesAll)
{
    velmora::Setup& setup = velmora::Setup::getInstance();
    setup.open(m_path.c_str());
    SetupDatabase& db = setup.getDatabase();

    // An apostrophe in the folder name must not break the statement.
    const std::string other = m_dir.file("O'Brien.db");
    test::executeSql(other, std::string(kSetupTable) +
                                "INSERT INTO setup VALUES ('setup/Port', 1234);"
                                "INSERT INTO setup VALUES ('Version', '2.0');"
                                "INSERT INTO setup VALUES ('other/Thing', 'x');"
                                "INSERT INTO setup VALUES ('skip/Me', 'y');"
                                "INSERT INTO setup VALUES ('driver''s/Seat', 'z');");
    EXPECT_TRUE(db.importFrom(other.c_str(), {"setup/", "skip/", "driver's/"}));
    EXPECT_EQ(queryValue(m_path, "SELECT COUNT(*) FROM setup WHERE key = 'driver''s/Seat';"), "0");
    EXPECT_EQ(db.getInt("setup/Port", 0), 10111);
    std::string version;
    db.getString("Version", version, "");
    EXPECT_EQ(version, "2.0");
    EXPECT_EQ(queryValue(m_path, "SELECT COUNT(*) FROM setup WHERE key IN ('other/Thing', "
                                 "'skip/Me');"),
              "1");

    const std::string target = m_dir.file("export.db");
    test::executeSql(target, kSetupTable);
    EXPECT_TRUE(db.exportTo(target.c_str()));
    EXPECT_EQ(queryValue(target, "SELECT COUNT(*) FROM setup;"),
              queryValue(m_path, "SELECT COUNT(*) FROM setup;"));
    // Exporting again collides with every key: reported as false, and the
    // file is detached all the same, so the next attach works.
    EXPECT_FALSE(db.exportTo(target.c_str()));
    bool again = true;
    EXPECT_NO_THROW(again = db.exportTo(target.c_str()));
    EXPECT_FALSE(again);
}

TEST(SetupDatabaseTest, FileWithOtherTablesIsLeftAlone)
{
    TempDir dir;
    const std::string path = dir.file("other.db");
    test::executeSql(path, "CREATE TABLE unrelated(a);");
    SetupDatabase db;
    EXPECT_FALSE(db.open(path.c_str(), 0));
    EXPECT_EQ(queryValue(path, "SELECT COUNT(*) FROM sqlite_master;"), "1");
    EXPECT_THROW(db.getInt("setup/Port", 1), DatabaseException);
}

// Reads that store their defaults go in one transaction: another connection
// sees none of them until the batch ends, then all; the file takes writes
// afterwards (no transaction is left open), and a batch without an open
// file does nothing.
TEST_F(SetupTest, ABatchOfReadsStoresTheirDefaultsInOneCommit)
{
    velmora::Setup& setup = velmora::Setup::getInstance();
    setup.open(m_path.c_str());
    {
        velmora::SetupBatch batch(setup);
        EXPECT_EQ(setup.getInt("setup/A", 7), 7);
        EXPECT_EQ(setup.getString("setup/B", "b"), "b");
        EXPECT_EQ(setup.getInt("setup/Port", 1), 10111) << "a stored value is read as ever";
        EXPECT_EQ(queryValue(m_path, "SELECT COUNT(*) FROM setup WHERE key IN ('setup/A', 'setup/B');"), "0");
    }
    EXPECT_EQ(queryValue(m_path, "SELECT COUNT(*) FROM setup WHERE key IN ('setup/A', 'setup/B');"), "2");
    {
        velmora::ScopedLock lock(setup.getLock());
        setup.getDatabase().setInt("setup/A", 8);
    }
    EXPECT_EQ(queryValue(m_path, "SELECT value FROM setup WHERE key='setup/A';"), "8");
    setup.close();
    {
        velmora::SetupBatch batch(setup);
    }
    EXPECT_THROW(setup.getInt("setup/A", 7), velmora::DatabaseException);
}
