#pragma once

#include <QString>

#include <optional>
#include <string>

namespace velmora {

/// The operator at the console, as the rules see them: answers questions,
/// picks files and works in the secondary windows. Each call returns when the
/// operator is done (the window is modal).
class IOperator {
public:
    virtual ~IOperator() = default;
    /// A Yes/No question; true for Yes (No is the default answer).
    virtual bool askYesNo(const QString& question) = 0;
    /// An image file for a vehicle icon, forward slashes; empty on Cancel.
    virtual std::string chooseImage() = 0;
    /// The event log window.
    virtual void showLog() = 0;
    /// The settings window; its changes come back as posted messages.
    virtual void showSetup() = 0;
    /// The vehicle edit window for one vehicle; true when it ended with OK
    /// (the window has then stored the record itself).
    virtual bool editVehicle(const std::string& vehicleIdText) = 0;
    /// A duration chosen in the tracking-line window.
    struct TrackingDuration {
        int hours = 0;  ///< "3 Days" is 72
        QString text;   ///< the entry as shown: "3 Hours"
    };
    /// The tracking-line window for one vehicle; the chosen duration when it
    /// ended with Show, nothing on Cancel.
    virtual std::optional<TrackingDuration> chooseTrackingLine(const std::string& vehicleIdText) = 0;
    /// A note for the operator: OK box with the information icon.
    virtual void tell(const QString& text) = 0;
};

} // namespace velmora
