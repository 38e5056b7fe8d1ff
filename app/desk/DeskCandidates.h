#pragma once

#include "app/dialogs/ICandidateList.h"
#include "store/DeskActions.h"

#include <QString>

#include <functional>
#include <vector>

namespace velmora {

class DeskLink;

/// The ids the control room's receiver refused and no desk answered yet
/// (the store's admission_candidate), with the answers: admit or ignore is
/// one transaction in the store, which the receiver and every desk follow.
/// An answered id leaves this desk's list at once.
class DeskCandidates : public ICandidateList {
public:
    DeskCandidates(DeskLink& link, DeskActions::Operator by, std::function<void(const QString&)> tell);

    /// The list as the store now holds it.
    void replace(std::vector<VehicleAdmission::Candidate> candidates);

    std::vector<VehicleAdmission::Candidate> getCandidates() const override { return m_candidates; }
    void admit(const UniqueID& id) override { decide(id, true); }
    void ignore(const UniqueID& id) override { decide(id, false); }

private:
    void decide(const UniqueID& id, bool admit);

    DeskLink& m_link;
    DeskActions::Operator m_by;
    std::function<void(const QString&)> m_tell;
    std::vector<VehicleAdmission::Candidate> m_candidates;
};

} // namespace velmora
