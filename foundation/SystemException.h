#pragma once

#include "foundation/Exception.h"

namespace velmora {

/// A failed OS call (files, thread start). The message is the system's text
/// for the error code, held in storage this exception owns.
class SystemException : public Exception {
public:
    /// errorCode is the calling thread's errno at construction.
    SystemException(const char* name, const char* file, int32_t line, const char* function);
    SystemException(const char* name, const char* file, int32_t line, const char* function,
                    int32_t errorCode);
    /// The copy fetches the text again into storage of its own.
    SystemException(const SystemException& other);
    SystemException& operator=(const SystemException&) = delete;
    ~SystemException() override;

private:
    void fetchText();

    char* m_text = nullptr;
};

} // namespace velmora
