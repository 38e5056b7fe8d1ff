#pragma once

#include "foundation/ClassicLocale.h"
#include "foundation/IFormatable.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace velmora {

/// Fixed-capacity printf-style text of at most N - 1 characters, kept inside
/// the object (no heap). An overlong result is cut; a cut leaves length == N.
/// Formats in the C locale ("%f" always writes a dot), since these texts
/// are stored, compared and sent, never shown as the operator's numbers.
/// Used by one thread at a time.
template <int N>
class FormatableBuffer : public IFormatable {
    static_assert(N >= 2, "a buffer needs room for one character and the terminator");

public:
    FormatableBuffer() { m_text[0] = '\0'; }

    /// Replaces the content with the formatted text, cut to N - 1 characters.
    void format(const char* fmt, ...) override __attribute__((format(printf, 2, 3)))
    {
        va_list args;
        va_start(args, fmt);
        m_length = 0;
        write(0, fmt, args);
        va_end(args);
    }

    /// Adds the formatted text after the current content; false when it was
    /// cut short or there was no room at all (then nothing changes).
    bool append(const char* fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        if (N - m_length <= 1)
            return false;
        va_list args;
        va_start(args, fmt);
        const bool whole = write(m_length, fmt, args);
        va_end(args);
        return whole;
    }

    const char* getText() const override { return m_text; }
    /// Characters written so far; N after a cut.
    int getLength() const { return m_length; }
    /// Whether an earlier write was cut short.
    bool isCut() const { return m_length == N; }
    static constexpr int capacity() { return N; }

private:
    bool write(int offset, const char* fmt, va_list args)
    {
        const int room = N - offset;
        const ClassicLocale classic;
        const int produced = std::vsnprintf(m_text + offset, static_cast<size_t>(room), fmt, args);
        if (produced < 0) {
            // An encoding error: keep what was there before, terminated.
            m_text[offset] = '\0';
            return false;
        }
        if (produced >= room) {
            m_length = N;
            return false;
        }
        m_length = offset + produced;
        return true;
    }

    int32_t m_length = 0;
    char m_text[N];
};

} // namespace velmora
