#include "store/ConnInfo.h"

#include <libpq-fe.h>

#include <cstring>
#include <memory>

namespace velmora {

namespace {

bool isSecret(const char* keyword)
{
    return std::strcmp(keyword, "password") == 0 || std::strcmp(keyword, "sslpassword") == 0;
}

struct Parsed {
    PQconninfoOption* options = nullptr;
    std::string error;
    explicit Parsed(const std::string& text)
    {
        char* message = nullptr;
        options = PQconninfoParse(text.c_str(), &message);
        if (message != nullptr) {
            error = message;
            PQfreemem(message);
            while (!error.empty() && (error.back() == '\n' || error.back() == ' ')) {
                error.pop_back();
            }
        }
    }
    ~Parsed()
    {
        if (options != nullptr) {
            PQconninfoFree(options);
        }
    }
    Parsed(const Parsed&) = delete;
    Parsed& operator=(const Parsed&) = delete;
};

/// A value in libpq's quoting: single quotes, with backslash before a
/// quote or backslash.
std::string quoted(const char* value)
{
    std::string text = "'";
    for (const char* c = value; *c != '\0'; ++c) {
        if (*c == '\'' || *c == '\\') {
            text += '\\';
        }
        text += *c;
    }
    return text + "'";
}

} // namespace

bool ConnInfo::check(const std::string& text, std::string& error)
{
    const Parsed parsed(text);
    if (parsed.options == nullptr) {
        error = parsed.error.empty() ? "not a connection string" : parsed.error;
        return false;
    }
    return true;
}

bool ConnInfo::hasPassword(const std::string& text)
{
    const Parsed parsed(text);
    if (parsed.options == nullptr) {
        return false;
    }
    for (PQconninfoOption* option = parsed.options; option->keyword != nullptr; ++option) {
        if (isSecret(option->keyword) && option->val != nullptr && *option->val != '\0') {
            return true;
        }
    }
    return false;
}

std::string ConnInfo::withoutPassword(const std::string& text)
{
    const Parsed parsed(text);
    if (parsed.options == nullptr) {
        return std::string();
    }
    std::string kept;
    for (PQconninfoOption* option = parsed.options; option->keyword != nullptr; ++option) {
        if (isSecret(option->keyword) || option->val == nullptr || *option->val == '\0') {
            continue;
        }
        if (!kept.empty()) {
            kept += ' ';
        }
        kept += option->keyword;
        kept += '=';
        kept += quoted(option->val);
    }
    return kept;
}

} // namespace velmora
