#include "bench/app/AlarmFloodWatch.h"

#include "app/alarms/AlarmPanel.h"
#include "app/shell/VelmoraDlg.h"

#include <QTableWidget>
#include <QVariant>
#include <QWebEnginePage>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace velmora {

namespace {

double wallMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}

constexpr const char* STORED_PREFIX = "Vehicle ";

} // namespace

// Shared with the page's answers, which may come after the watch is gone.
struct AlarmFloodWatch::Probe {
    bool waiting = false;
    std::chrono::steady_clock::time_point sent;
    std::vector<double> answersMs;
};

AlarmFloodWatch::AlarmFloodWatch(VelmoraDlg& window) : m_window(window), m_probe(std::make_shared<Probe>()) {
    connect(window.getAlarms(), &AlarmPanel::redrawn, this, &AlarmFloodWatch::onRedrawn);
    connect(&m_timer, &QTimer::timeout, this, &AlarmFloodWatch::probe);
}

AlarmFloodWatch::~AlarmFloodWatch() = default;

void AlarmFloodWatch::start() {
    if (!m_timer.isActive()) {
        m_timer.start(PROBE_MS);
    }
}

void AlarmFloodWatch::onRedrawn() {
    const AlarmPanel* panel = m_window.getAlarms();
    const QTableWidget* table = panel->getTable();
    const double at = wallMs();
    int folded = 0;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem* first = table->item(row, 0);
        const Alarm* alarm = first != nullptr ? panel->getBook().find(first->data(Qt::UserRole).toInt()) : nullptr;
        if (alarm == nullptr || alarm->isFold()) {
            ++folded;
            continue;
        }
        if (alarm->vehicleName.rfind(STORED_PREFIX, 0) == 0) {
            const long long number = std::atoll(alarm->vehicleName.c_str() + std::strlen(STORED_PREFIX));
            m_firstShown.emplace(number, at);
        }
    }
    m_foldedRows = folded;
}

void AlarmFloodWatch::probe() {
    QWebEnginePage* page = m_window.getHost().getPage();
    if (page == nullptr || m_probe->waiting) {
        return;
    }
    m_probe->waiting = true;
    m_probe->sent = std::chrono::steady_clock::now();
    std::shared_ptr<Probe> probe = m_probe;
    page->runJavaScript(QStringLiteral("0"), [probe](const QVariant&) {
        probe->waiting = false;
        probe->answersMs.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - probe->sent).count());
    });
}

void AlarmFloodWatch::write(const std::string& path) const {
    std::ofstream out(path);
    for (const auto& [number, at] : m_firstShown) {
        out << "shown " << number << ' ' << static_cast<long long>(at) << '\n';
    }
    out << "folded " << m_foldedRows << '\n';
    for (double ms : m_probe->answersMs) {
        out << "page " << ms << '\n';
    }
    // A probe still unanswered at the stop waited at least this long.
    if (m_probe->waiting) {
        out << "page "
            << std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_probe->sent).count()
            << '\n';
    }
}

} // namespace velmora
