#pragma once

#include "foundation/IFormatable.h"

#include <cstdarg>

namespace velmora {

/// SQL text made by SQLite's own formatter, so that values can be quoted into
/// statements: '%q' doubles single quotes, "%s" inserts text unchanged, "%d"
/// an integer. The text is absent (null) before the first format and when
/// the formatter ran out of memory. Used by one thread at a time.
class FormatableSQL : public IFormatable {
public:
    FormatableSQL() = default;
    /// Formats at once.
    explicit FormatableSQL(const char* fmt, ...);
    FormatableSQL(const FormatableSQL&) = delete;
    FormatableSQL& operator=(const FormatableSQL&) = delete;
    ~FormatableSQL() override;

    /// Releases the current text, then formats anew. No printf format check:
    /// %q and %Q are SQLite's own.
    void format(const char* fmt, ...) override;
    /// Like format, with an argument list.
    void formatV(const char* fmt, va_list args);
    /// The current text; null when there is none.
    const char* getText() const override { return m_text; }

private:
    char* m_text = nullptr;
};

} // namespace velmora
