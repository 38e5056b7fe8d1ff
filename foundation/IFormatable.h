#pragma once

namespace velmora {

/// A sink for printf-style text: objects write themselves into one, the
/// caller reads the text back.
class IFormatable {
public:
    virtual ~IFormatable() = default;
    /// Replaces the content with the formatted text.
    virtual void format(const char* fmt, ...) __attribute__((format(printf, 2, 3))) = 0;
    /// The current text, always terminated.
    virtual const char* getText() const = 0;
};

} // namespace velmora
