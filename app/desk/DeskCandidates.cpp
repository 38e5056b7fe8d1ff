#include "app/desk/DeskCandidates.h"

#include "app/desk/DeskLink.h"

#include <algorithm>

namespace velmora {

DeskCandidates::DeskCandidates(DeskLink& link, DeskActions::Operator by, std::function<void(const QString&)> tell)
    : m_link(link), m_by(std::move(by)), m_tell(std::move(tell)) {}

void DeskCandidates::replace(std::vector<VehicleAdmission::Candidate> candidates) {
    m_candidates = std::move(candidates);
}

void DeskCandidates::decide(const UniqueID& id, bool admit) {
    const DeskActions::Operator by = m_by;
    const QString text = QString::fromStdString(id.toText());
    m_link.submit(
        [id, admit, by](PgConnection& connection) -> std::function<void()> {
            DeskActions::decide(connection, id, admit, by);
            return {};
        },
        [this, text, admit](const QString& why) {
            m_tell(QStringLiteral("%1 was not %2: %3").arg(text, admit ? QStringLiteral("admitted")
                                                                      : QStringLiteral("ignored"), why));
            m_link.reload();
        });
    m_candidates.erase(std::remove_if(m_candidates.begin(), m_candidates.end(),
                                      [&id](const VehicleAdmission::Candidate& c) { return c.id == id; }),
                       m_candidates.end());
}

} // namespace velmora
