// Datagrams in, rows in the store: the same texts and numbers the console's
// app.db holds for the same messages. app.db is written by the console's own
// storing code (the event log and the fix store of db/, on a real file), fed
// the same parsed messages; the store is written by the real receiver,
// reached over UDP.

#include "tests/store/StoreFixture.h"
#include "tests/support/UdpSender.h"

#include "db/DBManager.h"
#include "db/EventLogger.h"
#include "db/GPSDataContainer.h"
#include "foundation/AppConstants.h"
#include "intake/CallbackInfo.h"
#include "intake/CallbackMessageParser.h"
#include "receiver/Receiver.h"
#include "tests/support/GermanLocale.h"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <thread>

using namespace velmora;

namespace {

const char* const V1 = "00112233-4455-6677-8899-aabbccddee01";
const char* const V2 = "00112233-4455-6677-8899-aabbccddee02";
const char* const V3 = "00112233-4455-6677-8899-aabbccddee03";
const char* const NEVER_SEEN = "00112233-4455-6677-8899-aabbccddee09";

const char* const DATE = "131859729"; // 2012-05-17
const char* const TIME = "863518";    // 13:45:30

std::string head(const std::string& name, int kind, const std::string& title, const char* id,
                 const char* date = DATE, const char* time = TIME)
{
    return name + "," + std::to_string(kind) + ",0, ," + title + ",0," + date + "," + time + ", ,0, ," + id;
}

struct MessageRow {
    const char* label;
    std::string datagram;
    /// The store's sentence where it differs from app.db's by design; "" otherwise.
    std::string cleanedSentence = std::string();
};

const std::string SENTENCE_V1 = "$GPRMC,134530.000,A,3723.2475,N,12158.3416,W,0.13,309.62,170512,,";
const std::string SENTENCE_V2 = "$GPRMC,134530.000,A,4722.6140,N,00832.5020,E,12.34,309.62,170512,,";

const MessageRow ROWS[] = {
    {"a first fix makes the vehicle", head("Truck 7", 100, "GPS", V1) + "," + SENTENCE_V1 + "*10"},
    {"a sentence without a star keeps its line end", head("Truck 7", 100, "GPS", V1) + "," + SENTENCE_V1 + "\r\n"},
    {"tab and backslash in a sentence", head("Truck 7", 100, "GPS", V1) + ",$GPRMC,1\\2\t3,A*00"},
    {"a long sentence is cut", head("Coach 2", 100, "GPS", V2) + "," + SENTENCE_V2 + std::string(60, 'X') + "*55"},
    {"a fix without a position is stored, moves nothing",
     head("Coach 2", 100, "GPS", V2) + ",$GPRMC,134531.000,V,,,,,,,170512,,*33"},
    {"a position off the globe is stored, moves nothing",
     head("Coach 2", 100, "GPS", V2) + ",$GPRMC,134532.000,A,9100.0000,N,00832.5020,E,0,0,170512,,*00"},
    {"an empty sentence makes the vehicle, stores no fix", head("Van 3", 100, "GPS", V3) + ","},
    {"ill-formed UTF-8 in a sentence", head("Van 3", 100, "GPS", V3) + ",$GPRMC,\xFF,A*00", "$GPRMC,\xEF\xBF\xBD,A"},
    {"an event", head("Truck 7", 1, "Front Door", V1)},
    {"names and titles are cut to app.db's limits, never inside a character",
     head(std::string(31, 'a') + "\xC3\xA9" + "b", 2, std::string(40, 'T'), V1)},
    {"the unit separator stands for a comma", head("Smith\x1F John", 3, "Door\x1F left", V1)},
    {"ill-formed UTF-8 in a name", head("Bus\xFF", 4, "X", V1)},
    {"a date outside the calendar is no time", head("Truck 7", 5, "Feb 30", V1, "131858974")},
    {"a leap second is no time", head("Truck 7", 6, "Leap", V1, DATE, "1522492")},
    {"year 99", head("Truck 7", 7, "Old clock", V1, "6488321", "0")},
    {"a negative kind is an event", head("Truck 7", -3, "Odd", V1)},
    {"an event of a vehicle never seen in a fix is dropped", head("Ghost", 1, "Door", NEVER_SEEN)},
    {"a kind above 101 does nothing", head("Truck 7", 102, "What", V1)},
    {"optional information", head("Bus 2", 101, " ", V2) + ",x,3,Company,North Depot,Driver,Ann,Colour,Red"},
    {"a panic raises an alarm", head("Truck 7", 13, "Panic button", V1)},
    {"a panic again counts on it", head("Truck 7", 13, "Panic button", V1)},
    {"a g-sensor event raises one of priority 2", head("Van 3", 11, "G-Sensor", V3)},
};

/// The console's time text of a device time.
std::string timeText(const DateTime& time)
{
    const AppConstants& constants = AppConstants::getInstance();
    std::string pattern = constants.getDateFormat(constants.getDateFormatIndex());
    pattern += ' ';
    pattern += constants.getTimeFormat(constants.getTimeFormatIndex());
    return time.formatted(pattern.c_str());
}

using Rows = std::vector<std::vector<std::string>>;
const char* const NULL_TEXT = "<NULL>";

Rows sqliteRows(const std::string& path, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    Rows rows;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
            row.emplace_back(text != nullptr ? text : NULL_TEXT);
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

Rows storeRows(PgConnection& store, const std::string& sql)
{
    const PgResult result = store.execute(sql);
    Rows rows;
    for (int r = 0; r < result.getRowCount(); ++r) {
        std::vector<std::string> row;
        for (int c = 0; c < result.getColumnCount(); ++c) {
            row.emplace_back(result.isNull(r, c) ? NULL_TEXT : result.getText(r, c));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

bool waitFor(const std::function<bool()>& done, std::chrono::seconds limit)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class DeviceMessagesTest : public test::StoreFixture {
protected:
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

    std::string folder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-messages-XXXXXX").string();
        m_folder = mkdtemp(pattern.data()) != nullptr ? pattern : "";
        return m_folder;
    }

    std::string m_folder;
};

} // namespace

TEST_F(DeviceMessagesTest, TheStoreHoldsWhatAppDbHoldsForTheSameDatagrams)
{
    // Numbers must not follow the locale on either side.
    test::GermanLocale german;
    ASSERT_TRUE(german.isActive()) << german.why();
    const std::string work = folder();
    ASSERT_FALSE(work.empty());

    Receiver::Options options;
    options.conninfo = conninfo();
    options.port = 0;
    options.spoolPath = work + "/spool.db";
    Receiver receiver(options);
    std::string problem;
    ASSERT_TRUE(receiver.start(problem)) << problem;
    ASSERT_TRUE(waitFor([&] { return receiver.getCounters().connects.load() > 0; }, std::chrono::seconds(20)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    // The console's storing of the same messages, into app.db.
    const std::string appDb = work + "/app.db";
    DBManager::getInstance().open(appDb.c_str(), 5000);
    std::set<std::string> knownVehicles;
    std::vector<std::string> cleaned; // per fix, in order
    test::UdpSender device(receiver.getBoundPort());
    for (const MessageRow& row : ROWS) {
        ASSERT_TRUE(device.send(row.datagram)) << row.label;
        CallbackInfo info("127.0.0.1", 1);
        std::string text = row.datagram;
        CallbackMessageParser().parse(info, text.data());
        const std::string id = info.getVehicleID().toText();
        if (info.getEventType() == CallbackInfo::EVENT_GPS) {
            knownVehicles.insert(id);
            if (!info.getGpsData().empty()) {
                ASSERT_TRUE(GPSDataContainer::getInstance().insert(timeText(info.getTime()).c_str(),
                                                                   info.getVehicleID(), info.getGpsData().c_str()));
                cleaned.push_back(row.cleanedSentence);
            }
        } else if (info.getEventType() < CallbackInfo::EVENT_GPS && knownVehicles.count(id) != 0) {
            ASSERT_TRUE(EventLogger::getInstance().log(info));
        }
    }
    DBManager::getInstance().shutdown();
    const Rows appEvents = sqliteRows(
        appDb, "SELECT address, name, time, event_type, device_title, vehicle_id FROM event_info ORDER BY id");
    Rows appFixes = sqliteRows(appDb, "SELECT gps_data, update_time, vehicle_id FROM gps_data ORDER BY id");
    ASSERT_EQ(appFixes.size(), cleaned.size());
    for (size_t i = 0; i < cleaned.size(); ++i) {
        if (!cleaned[i].empty()) {
            // The server takes no ill-formed UTF-8: the byte becomes U+FFFD.
            appFixes[i][0] = cleaned[i];
        }
    }

    ASSERT_TRUE(waitFor(
        [&] {
            return receiver.getCounters().storedEvents.load() >= appEvents.size() &&
                   receiver.getCounters().storedFixes.load() >= appFixes.size();
        },
        std::chrono::seconds(20)))
        << receiver.counterLine();
    receiver.stop();

    const char* const TIME_TEXT = "to_char(%s AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS')";
    char eventSql[512];
    std::snprintf(eventSql, sizeof eventSql,
                  "SELECT address, name, %s, event_type, device_title, vehicle_id FROM event_info ORDER BY id",
                  std::string(TIME_TEXT).replace(std::string(TIME_TEXT).find("%s"), 2, "time").c_str());
    EXPECT_EQ(storeRows(m_store, eventSql), appEvents);
    char fixSql[512];
    std::snprintf(fixSql, sizeof fixSql, "SELECT gps_data, %s, vehicle_id FROM gps_data ORDER BY id",
                  std::string(TIME_TEXT).replace(std::string(TIME_TEXT).find("%s"), 2, "update_time").c_str());
    EXPECT_EQ(storeRows(m_store, fixSql), appFixes);

    // The vehicles as the console leaves them: named by their last fix or
    // information, moved only by fixes on the globe, six decimals.
    const Rows vehicles = storeRows(
        m_store, "SELECT id, name, to_char(last_updated_time, 'YYYY-MM-DD HH24:MI:SS'), last_updated_latitude, "
                 "last_updated_longitude, company, driver, model FROM vehicle_info ORDER BY id");
    const Rows expected = {
        {V1, "Truck 7", "2012-05-17 13:45:30", "37.387458", "-121.97236", "", "", ""},
        {V2, "Bus 2", "2012-05-17 13:45:30", "47.3769", "8.5417", "North Depot", "Ann", ""},
        {V3, "Van 3", "2012-05-17 13:45:30", NULL_TEXT, NULL_TEXT, "", "", ""},
    };
    EXPECT_EQ(vehicles, expected);

    // One alarm per vehicle and kind, raised by the first event, counting the repeat.
    const Rows alarms = storeRows(
        m_store, "SELECT a.vehicle_id, a.vehicle_name, a.event_type, a.priority, a.repeat_count, a.device_title, "
                 "a.address, e.device_title FROM alarm_info a JOIN event_info e ON e.id = a.event_id ORDER BY a.id");
    const Rows expectedAlarms = {
        {V1, "Truck 7", "13", "1", "1", "Panic button", "127.0.0.1", "Panic button"},
        {V3, "Van 3", "11", "2", "0", "G-Sensor", "127.0.0.1", "G-Sensor"},
    };
    EXPECT_EQ(alarms, expectedAlarms);
    EXPECT_EQ(value("SELECT (SELECT event_id FROM alarm_info WHERE event_type = 13) = "
                    "(SELECT MIN(id) FROM event_info WHERE event_type = 13)"),
              "t");
}
