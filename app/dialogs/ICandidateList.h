#pragma once

#include "intake/VehicleAdmission.h"

#include <vector>

namespace velmora {

/// The new vehicle ids waiting for an operator's answer, and the answers:
/// the single desk's own admission (AdmissionCandidates), or the store's
/// list that every desk of a control room shares.
class ICandidateList {
public:
    virtual ~ICandidateList() = default;
    /// The waiting ids, most recently seen first.
    virtual std::vector<VehicleAdmission::Candidate> getCandidates() const = 0;
    virtual void admit(const UniqueID& id) = 0;
    virtual void ignore(const UniqueID& id) = 0;
    /// The senders whose vehicles admitted themselves and wait for a look
    /// (none where the desk does not admit ids itself).
    virtual std::vector<VehicleAdmission::UnreviewedSender> getUnreviewedSenders() const { return {}; }
};

/// The single desk's list: its own VehicleAdmission.
class AdmissionCandidates : public ICandidateList {
public:
    explicit AdmissionCandidates(VehicleAdmission& admission) : m_admission(admission) {}
    std::vector<VehicleAdmission::Candidate> getCandidates() const override { return m_admission.getCandidates(); }
    void admit(const UniqueID& id) override { m_admission.admit(id); }
    void ignore(const UniqueID& id) override { m_admission.ignore(id); }
    std::vector<VehicleAdmission::UnreviewedSender> getUnreviewedSenders() const override {
        return m_admission.getUnreviewedSenders();
    }

private:
    VehicleAdmission& m_admission;
};

} // namespace velmora
