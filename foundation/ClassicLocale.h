#pragma once

#include <locale.h>

namespace velmora {

/// Makes the calling thread read and write text in the C locale while the
/// object lives. Numbers stored in the database, sent to the map page or read
/// from devices must come out the same in every operator's locale: a decimal
/// comma would split one value into two or cut it short. Only the calling
/// thread is affected; the process locale stays as the user has it.
class ClassicLocale {
public:
    ClassicLocale() : m_previous(uselocale(handle())) {}
    ~ClassicLocale() { uselocale(m_previous); }
    ClassicLocale(const ClassicLocale&) = delete;
    ClassicLocale& operator=(const ClassicLocale&) = delete;

    /// The C locale, for the *_l functions (strtod_l, strftime_l). Made once,
    /// never released; never null (the C locale is built into the C library).
    static locale_t handle();

private:
    locale_t m_previous;
};

} // namespace velmora
