#pragma once

#include "foundation/ISingleton.h"

#include <map>

namespace velmora {

/// The strftime patterns every stored or shown time is written with, and the
/// chosen ones (date 0 "%Y-%m-%d", time 1 "%H:%M:%S"). Created on first use,
/// read-only afterwards.
class AppConstants : public ISingleton {
public:
    static AppConstants& getInstance();

    /// The date pattern of index, "%Y-%m-%d" when there is none.
    const char* getDateFormat(int index) const;
    /// The time pattern of index, "%I:%M:%S %p" when there is none.
    const char* getTimeFormat(int index) const;
    int getDateFormatIndex() const { return m_dateFormatIndex; }
    int getTimeFormatIndex() const { return m_timeFormatIndex; }

private:
    AppConstants();

    std::map<int, const char*> m_dateFormats;
    std::map<int, const char*> m_timeFormats;
    int m_dateFormatIndex = 0;
    int m_timeFormatIndex = 1;
};

} // namespace velmora
