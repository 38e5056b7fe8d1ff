#pragma once

#include <QObject>
#include <QTimer>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

class VelmoraDlg;

/// Watches a console under an alarm flood from inside its process: when
/// each stored vehicle's alarm (a vehicle named "Vehicle N") first had a
/// row of its own in the alarm queue, how many of the queue's rows stand
/// for no single alarm (a sender's folded alarms), and how long the page
/// takes to answer a script, asked every PROBE_MS while the watch runs.
class AlarmFloodWatch : public QObject {
public:
    static constexpr int PROBE_MS = 100;

    explicit AlarmFloodWatch(VelmoraDlg& window);
    ~AlarmFloodWatch() override;

    /// Starts the page probe (once the page has loaded).
    void start();
    /// Writes what was seen for the parent: "shown <n> <wall ms>" per
    /// vehicle, "folded <rows>", "page <ms>" per answer.
    void write(const std::string& path) const;

private:
    struct Probe;
    void onRedrawn();
    void probe();

    VelmoraDlg& m_window;
    QTimer m_timer;
    std::map<long long, double> m_firstShown;
    int m_foldedRows = 0;
    std::shared_ptr<Probe> m_probe;
};

} // namespace velmora
