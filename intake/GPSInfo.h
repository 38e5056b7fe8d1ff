#pragma once

#include "foundation/Time.h"

#include <string>
#include <vector>

namespace velmora {

/// One $GPRMC sentence split into its fields (the leading "$" dropped). Only
/// position, speed, course and the UTC time are interpreted; the status, date
/// and checksum are neither read nor verified. A plain value: no sharing.
class GPSInfo {
public:
    /// Splits the sentence at "," (and at a "*" after the last comma). Never
    /// fails on any text.
    explicit GPSInfo(const std::string& sentence);
    virtual ~GPSInfo();

    /// Degrees, north positive; 0.0 when the field is missing.
    double getLatitude() const;
    /// Degrees, east positive; 0.0 when the field is missing.
    double getLongitude() const;
    /// The speed field as written, in knots; 0.0 when missing.
    double getSpeed() const;
    /// The course in degrees; -1.0 when the field is empty or missing.
    double getBearing() const;
    /// Hour, minute and second of the time field, zone 0; a missing pair reads 0.
    Time getUtcTime() const;
    /// Whether the sentence holds the fields up to the course (9 or more),
    /// so that a caller can skip a fix too short to mean anything.
    bool hasPosition() const;

    /// The split fields, in order.
    const std::vector<std::string>& getFields() const { return m_fields; }

private:
    const std::string* field(size_t index) const;
    double number(size_t index) const;
    double degrees(size_t valueIndex, size_t hemisphereIndex, const char* negative) const;

    std::vector<std::string> m_fields;
};

} // namespace velmora
