#pragma once

#include "foundation/UniqueID.h"

#include <QObject>
#include <QString>

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace velmora {

class ConsoleHub;
class IOperator;
class VehicleAdmission;

/// "Delete all unreviewed vehicles of this sender": one question, then every
/// vehicle that admitted itself from that address and nobody reviewed is
/// deleted for good as the vehicle menu's Delete does (ConsoleHub::
/// eraseVehicle), CHUNK vehicles per turn of the window's event loop, so
/// thousands of them never hold the window, the page or the writer for
/// long. Ids admitted but not yet a vehicle are forgotten, so their queued
/// fixes cannot make them one. GUI thread only.
class VehicleEraser : public QObject {
    Q_OBJECT

public:
    static constexpr size_t CHUNK = 100;

    /// The collaborators outlive the eraser.
    VehicleEraser(ConsoleHub& hub, IOperator& desk, VehicleAdmission& admission, QObject* parent = nullptr);

    /// Asks the operator, then deletes address's unreviewed vehicles in
    /// chunks; false when there were none or the answer was No.
    bool deleteUnreviewedOf(const std::string& address);
    /// Vehicles still to delete.
    size_t getPending() const;
    /// Deletes nothing more (the window stops).
    void stop();

signals:
    /// Every unreviewed vehicle of address was handled; deleted of them
    /// were deleted for good.
    void senderDeleted(const QString& address, int deleted);

private:
    struct Job {
        std::string address;
        std::vector<UniqueID> ids;
        size_t next = 0;
        size_t deleted = 0;
    };
    void step();
    void schedule();

    ConsoleHub& m_hub;
    IOperator& m_desk;
    VehicleAdmission& m_admission;
    std::deque<Job> m_jobs;
    bool m_stepQueued = false;
    bool m_stopped = false;
};

} // namespace velmora
