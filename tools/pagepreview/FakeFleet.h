#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace velmora {

/// A made-up fleet driving around Europe, as the page commands the console
/// would send for it.
class FakeFleet {
public:
    struct Member {
        QString id;
        QString name;
        double latitude;
        double longitude;
        double course;
        double speed;
    };

    FakeFleet();

    const std::vector<Member>& getMembers() const { return m_members; }
    /// insertVehicle (flag 1) with its optional and user-defined lines for
    /// every member, then sortVehicleList.
    QStringList fleetCommands() const;
    /// A track of count moveTo lines for member index, ending at its position.
    QStringList trackCommands(size_t index, int count) const;
    /// The history commands of a stored afternoon of member index: about
    /// three hours on the road, a fix every 20 s, with a stop of 45 minutes
    /// (a gap) halfway.
    QStringList historyCommands(size_t index) const;
    /// A few event lines from different members.
    QStringList eventCommands() const;

private:
    std::vector<Member> m_members;
};

} // namespace velmora
