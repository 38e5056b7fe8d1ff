#include "foundation/Exception.h"
#include "foundation/FormatableBuffer.h"
#include "foundation/SocketAddressInfoException.h"
#include "foundation/SocketException.h"
#include "foundation/StandardException.h"
#include "foundation/SystemException.h"
#include "foundation/UnknownException.h"

#include <gtest/gtest.h>

#include <netdb.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>

using namespace velmora;

namespace {
std::string text(const Exception& e)
{
    FormatableBuffer<1024> out;
    e.toString(out);
    return out.getText();
}
} // namespace

TEST(ExceptionTest, ToStringFormats)
{
    const SocketException socket("SocketException", "Socket.cpp", 42, "void Socket::send()",
                                 ECONNRESET);
    EXPECT_EQ(socket.getErrorCode(), ECONNRESET);
    EXPECT_STREQ(socket.getMessage(), std::strerror(ECONNRESET));
    EXPECT_EQ(text(socket), std::string("SocketException: ") + std::strerror(ECONNRESET) +
                                "\tat void Socket::send()(Socket.cpp:42)");

    EXPECT_EQ(text(UnknownException()), "UnknownException");
    const StandardException standard{std::bad_alloc()};
    EXPECT_EQ(text(standard), std::string("StandardException: ") + std::bad_alloc().what());
    EXPECT_STREQ(standard.getFile(), "unknown_file");
    EXPECT_STREQ(standard.getFunction(), "unknown_function");
    EXPECT_EQ(standard.getLine(), 0);
    EXPECT_EQ(standard.getErrorCode(), 0);
}

TEST(ExceptionTest, ThrowSiteIsRecorded)
{
    try {
        throw SystemException(VELMORA_THROW_SITE("SystemException"), ENOENT);
    } catch (const Exception& e) {
        EXPECT_STREQ(e.getName(), "SystemException");
        EXPECT_NE(std::strstr(e.getFile(), "ExceptionTest.cpp"), nullptr);
        EXPECT_GT(e.getLine(), 0);
        EXPECT_NE(std::strstr(e.getFunction(), "TestBody"), nullptr);
        EXPECT_EQ(e.getErrorCode(), ENOENT);
        EXPECT_STREQ(e.getMessage(), std::strerror(ENOENT));
    }
}

TEST(ExceptionTest, SystemExceptionReadsErrnoAtConstruction)
{
    errno = EACCES;
    const SystemException e(VELMORA_THROW_SITE("SystemException"));
    EXPECT_EQ(e.getErrorCode(), EACCES);
}

TEST(ExceptionTest, CopiesOwnTheirText)
{
    auto socket = std::make_unique<SocketException>(VELMORA_THROW_SITE("SocketException"), 0,
                                                    "peer went away");
    const SocketException socketCopy(*socket);
    socket.reset();
    EXPECT_STREQ(socketCopy.getMessage(), "peer went away");

    auto system = std::make_unique<SystemException>(VELMORA_THROW_SITE("SystemException"), EPERM);
    const SystemException systemCopy(*system);
    const char* original = system->getMessage();
    EXPECT_NE(systemCopy.getMessage(), original);
    system.reset();
    EXPECT_STREQ(systemCopy.getMessage(), std::strerror(EPERM));

    auto info = std::make_unique<SocketAddressInfoException>(
        VELMORA_THROW_SITE("SocketAddressInfoException"), EAI_NONAME);
    const SocketAddressInfoException infoCopy(*info);
    info.reset();
    EXPECT_STREQ(infoCopy.getMessage(), gai_strerror(EAI_NONAME));
    EXPECT_EQ(infoCopy.getErrorCode(), EAI_NONAME);
}

TEST(ExceptionTest, SocketTextKeepsFirst255Characters)
{
    const std::string longText(400, 'm');
    const SocketException e(VELMORA_THROW_SITE("SocketException"), 1, longText.c_str());
    EXPECT_EQ(std::string(e.getMessage()), longText.substr(0, 255));
}

TEST(ExceptionTest, UnknownCodeGivesADefiniteText)
{
    // The C library's text for a code it does not know names the code.
    const SocketException socket(VELMORA_THROW_SITE("SocketException"), 987654);
    EXPECT_STREQ(socket.getMessage(), "Unknown error 987654");
    const SystemException system(VELMORA_THROW_SITE("SystemException"), -3);
    EXPECT_STREQ(system.getMessage(), "Unknown error -3");
}
