#pragma once

// The console's rules without a window: a page that records every command, an
// operator who answers from a script, and the real containers, app.db and
// setup.db in a temporary directory.

#include "tests/support/ConsoleTestSupport.h"

#include "app/hub/ConsoleHub.h"
#include "app/hub/IOperator.h"
#include "app/hub/IPageRunner.h"
#include "db/DBManager.h"
#include "db/Setup.h"
#include "db/VehicleInfoContainer.h"
#include "intake/CallbackInfo.h"
#include "intake/CallbackMessageParser.h"
#include "intake/VehicleAdmission.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace velmora::test {

/// What the page and the operator saw, in order: "page <command>" and
/// "desk <call>".
using Journal = std::vector<std::string>;

class RecordingPage : public IPageRunner {
public:
    explicit RecordingPage(Journal& journal) : m_journal(journal) {}
    void execute(const QString& command) override { m_journal.push_back("page " + command.toStdString()); }

private:
    Journal& m_journal;
};

/// Answers from its script; an empty script answers No / Cancel.
class ScriptedOperator : public IOperator {
public:
    explicit ScriptedOperator(Journal& journal) : m_journal(journal) {}

    std::deque<bool> answers;
    std::deque<std::string> images;

    bool askYesNo(const QString& question) override {
        m_journal.push_back("desk ask " + question.toStdString());
        return next(answers);
    }
    std::string chooseImage() override {
        m_journal.push_back("desk chooseImage");
        if (images.empty()) {
            return {};
        }
        std::string image = images.front();
        images.pop_front();
        return image;
    }
    void showLog() override { m_journal.push_back("desk showLog"); }
    void showSetup() override { m_journal.push_back("desk showSetup"); }
    bool editVehicle(const std::string& vehicleIdText) override {
        m_journal.push_back("desk editVehicle " + vehicleIdText);
        return next(answers);
    }
    /// The tracking-line window's answers; none left is Cancel.
    std::deque<TrackingDuration> durations;

    std::optional<TrackingDuration> chooseTrackingLine(const std::string& vehicleIdText) override {
        m_journal.push_back("desk chooseTrackingLine " + vehicleIdText);
        if (durations.empty()) {
            return std::nullopt;
        }
        TrackingDuration duration = durations.front();
        durations.pop_front();
        return duration;
    }
    void tell(const QString& text) override { m_journal.push_back("desk tell " + text.toStdString()); }

private:
    static bool next(std::deque<bool>& queue) {
        if (queue.empty()) {
            return false;
        }
        const bool answer = queue.front();
        queue.pop_front();
        return answer;
    }

    Journal& m_journal;
};

// Two vehicles and a fix of each kind the tests need.
inline const std::string ID_A = "6f1c2a7e-0b3d-4c55-9e1f-2a3b4c5d6e7f";
inline const std::string ID_B = "0a9b8c7d-6e5f-4a3b-8c1d-0e9f8a7b6c5d";
/// 37.387458 N, 121.972360 W, 0.13 knots, course 309.62, 13:45:30.
inline const std::string FIX_SANTA_CLARA = "$GPRMC,134530,A,3723.2475,N,12158.3416,W,0.13,309.62,120598,,*10";
/// The same place with no course.
inline const std::string FIX_NO_COURSE = "$GPRMC,134531,A,3723.2475,N,12158.3416,W,0.00,,120598,,";
/// A fix a receiver sends before it has a position: no latitude or longitude.
inline const std::string FIX_VOID = "$GPRMC,134532,V,,,,,,,120598,,N";

class HubTest : public ::testing::Test {
public:
    void SetUp() override {
        VehicleInfoContainer::getInstance().clear();
        DBManager::getInstance().open(appDb().c_str(), 5000);
        Setup::getInstance().open(dir.file("setup.db").c_str());
    }
    void TearDown() override {
        DBManager::getInstance().shutdown();
        Setup::getInstance().close();
        VehicleInfoContainer::getInstance().clear();
    }

    std::string appDb() const { return dir.file("app.db"); }

    /// One datagram text as the callback server would hand it on.
    void device(const std::string& text) {
        std::string buffer = text;
        CallbackInfo info("192.0.2.7", 5000);
        parser.parse(info, buffer.data());
        hub.onDeviceMessage(info);
    }

    /// A fresh start: no vehicles, an empty app.db, nothing seen yet.
    void reset() {
        DBManager::getInstance().shutdown();
        VehicleInfoContainer::getInstance().clear();
        std::filesystem::remove(appDb());
        DBManager::getInstance().open(appDb().c_str(), 5000);
        hub.setAdmission(nullptr);
        journal.clear();
        desk.answers.clear();
        desk.images.clear();
        desk.durations.clear();
    }

    /// Everything queued is written and the console starts again from app.db.
    void restart() {
        DBManager::getInstance().shutdown();
        VehicleInfoContainer::getInstance().clear();
        DBManager::getInstance().open(appDb().c_str(), 5000);
    }

    /// Lines of the journal that start with prefix.
    std::vector<std::string> lines(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& line : journal) {
            if (line.rfind(prefix, 0) == 0) {
                found.push_back(line);
            }
        }
        return found;
    }

    TempDir dir;
    Journal journal;
    RecordingPage page{journal};
    ScriptedOperator desk{journal};
    CallbackMessageParser parser;
    ConsoleHub hub{page, desk, VehicleInfoContainer::getInstance(), Setup::getInstance()};
    /// Set on the hub by the rows that need it.
    VehicleAdmission admission;
};

} // namespace velmora::test
