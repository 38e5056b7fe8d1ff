#pragma once

// Records every call the page makes into native code (and the page-loaded
// notice), and whether each came on the GUI thread.

#include "mapview/CefClientListener.h"
#include "mapview/CefClientV8Listener.h"
#include "mapview/MapView.h"

#include <QCoreApplication>
#include <QThread>

#include <string>
#include <vector>

namespace velmora::test {

class RecordingListener : public CefClientListener, public CefClientV8Listener {
public:
    /// One call: the function and its arguments joined by "|".
    struct Call {
        std::string first;
        std::string second;
        bool hasArguments = false;
        /// Same function and arguments.
        bool operator==(const Call& other) const { return first == other.first && second == other.second; }
    };

    void onPageLoaded() override { add("onPageLoaded"); }
    void onClickLog() override { add("onClickLog"); }
    void onClickSetup() override { add("onClickSetup"); }
    void onClickEdit(const std::string& id) override { add("onClickEdit", id); }
    void onClickRemove(const std::string& id) override { add("onClickRemove", id); }
    void onClickDelete(const std::string& id) override { add("onClickDelete", id); }
    void onChangeName(const std::string& id, const std::string& name) override { add("onChangeName", id + "|" + name); }
    bool onUpdateOptionalInfo(const std::string& id, const std::string& path, const std::string& info1,
                              const std::string& info2) override {
        add("onUpdateOptionalInfo", id + "|" + path + "|" + info1 + "|" + info2);
        return true;
    }
    void onClickImgBtn(const std::string& id) override { add("onClickImgBtn", id); }
    void onClickTrackingLine(const std::string& id) override { add("onClickTrackingLine", id); }
    void onMapViewChanged(const MapView& view) override { add("onMapViewChanged", view.toText()); }
    void onClickZones() override { add("onClickZones"); }
    void onZoneDrawn(const std::string& shape, const std::string& geometry) override
    {
        add("onZoneDrawn", shape + "|" + geometry);
    }
    void onZoneEdited(const std::string& id, const std::string& shape, const std::string& geometry) override
    {
        add("onZoneEdited", id + "|" + shape + "|" + geometry);
    }

    /// The calls as text lines: "onClickLog", "onClickEdit(id)",
    /// "onChangeName(id|name)".
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        out.reserve(calls.size());
        for (const Call& call : calls) {
            out.push_back(call.hasArguments ? call.first + "(" + call.second + ")" : call.first);
        }
        return out;
    }

    std::vector<Call> calls;
    bool offGuiThread = false;

private:
    void add(const std::string& function) { record({function, "", false}); }
    void add(const std::string& function, const std::string& arguments) { record({function, arguments, true}); }
    void record(const Call& call) {
        if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
            offGuiThread = true;
        }
        calls.push_back(call);
    }
};

} // namespace velmora::test
