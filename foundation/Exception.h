#pragma once

#include "foundation/IStringConvertable.h"

#include <cstdint>

/// The throw-site arguments of every exception constructor: the class's own
/// name, then the source file, line and function of the throw.
#define VELMORA_THROW_SITE(name) name, __FILE__, __LINE__, __PRETTY_FUNCTION__

namespace velmora {

/// Root of every failure the class library reports. Carries its throw site,
/// an OS or library error code and a message. Thrown by value, caught by
/// reference; name, file and function always point at static texts.
class Exception : public IStringConvertable {
public:
    Exception(const char* name, const char* file, int32_t line, const char* function,
              int32_t errorCode, const char* message);
    Exception(const Exception&) = default;
    Exception& operator=(const Exception&) = default;
    ~Exception() override = default;

    /// Writes "name: message\tat function(file:line)".
    void toString(IFormatable& out) const override;
    virtual int32_t getErrorCode() const;
    virtual const char* getMessage() const;

    const char* getName() const { return m_name; }
    const char* getFile() const { return m_file; }
    int32_t getLine() const { return m_line; }
    const char* getFunction() const { return m_function; }

protected:
    void setMessage(const char* message) { m_message = message; }

private:
    const char* m_name;
    const char* m_file;
    int32_t m_line;
    const char* m_function;
    int32_t m_errorCode;
    const char* m_message;
};

} // namespace velmora
