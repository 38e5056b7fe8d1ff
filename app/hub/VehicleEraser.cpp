#include "app/hub/VehicleEraser.h"

#include "app/hub/ConsoleHub.h"
#include "app/hub/IOperator.h"
#include "foundation/Trace.h"
#include "intake/VehicleAdmission.h"

#include <QLocale>
#include <QTimer>

namespace velmora {

VehicleEraser::VehicleEraser(ConsoleHub& hub, IOperator& desk, VehicleAdmission& admission, QObject* parent)
    : QObject(parent), m_hub(hub), m_desk(desk), m_admission(admission) {}

bool VehicleEraser::deleteUnreviewedOf(const std::string& address) {
    const QString sender = QString::fromStdString(address);
    const size_t count = m_admission.unreviewedOf(address).size();
    if (count == 0) {
        m_desk.tell(QStringLiteral("%1 brought no unreviewed vehicles that are left to delete.").arg(sender));
        return false;
    }
    const QString vehicles = count == 1 ? QStringLiteral("the unreviewed vehicle")
                                        : QStringLiteral("the %1 unreviewed vehicles")
                                              .arg(QLocale(QLocale::English).toString(static_cast<qulonglong>(count)));
    if (!m_desk.askYesNo(QStringLiteral("Do you want to delete %1 of %2 with all their stored positions and events? "
                                        "This cannot be undone.")
                             .arg(vehicles, sender))) {
        return false;
    }
    // The question ran its own event loop: the sender may have brought more.
    Job job;
    job.address = address;
    job.ids = m_admission.unreviewedOf(address);
    trace("VehicleEraser: deleting %zu unreviewed vehicles of %s", job.ids.size(), address.c_str());
    m_jobs.push_back(std::move(job));
    schedule();
    return true;
}

size_t VehicleEraser::getPending() const {
    size_t pending = 0;
    for (const Job& job : m_jobs) {
        pending += job.ids.size() - job.next;
    }
    return pending;
}

void VehicleEraser::stop() {
    m_stopped = true;
    m_jobs.clear();
}

void VehicleEraser::schedule() {
    if (!m_stepQueued && !m_stopped && !m_jobs.empty()) {
        m_stepQueued = true;
        QTimer::singleShot(0, this, &VehicleEraser::step);
    }
}

void VehicleEraser::step() {
    m_stepQueued = false;
    size_t done = 0;
    while (!m_stopped && !m_jobs.empty() && done < CHUNK) {
        Job& job = m_jobs.front();
        for (; job.next < job.ids.size() && done < CHUNK; ++job.next, ++done) {
            job.deleted += m_hub.eraseVehicle(job.ids[job.next]) ? 1 : 0;
        }
        if (job.next == job.ids.size()) {
            const Job finished = std::move(job);
            m_jobs.pop_front();
            trace("VehicleEraser: %zu of %zu unreviewed vehicles of %s deleted", finished.deleted,
                  finished.ids.size(), finished.address.c_str());
            emit senderDeleted(QString::fromStdString(finished.address), static_cast<int>(finished.deleted));
        }
    }
    schedule();
}

} // namespace velmora
