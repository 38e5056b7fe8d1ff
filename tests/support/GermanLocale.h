#pragma once

// Switches the whole process to a German locale (decimal comma, German day
// and month names) for the life of the object, for tests of texts that must
// read and write numbers the same in every locale.
//
// The locale is generated with localedef into a temporary folder that
// LOCPATH points at, so no locale needs to be installed on the machine, only
// the locale sources (Debian's locales package). When the
// switch does not take, the constructor records a test failure, so a test
// that uses it can never pass quietly in the C locale.
//
// Usage, in any GoogleTest suite:
//     velmora::test::GermanLocale german;
//     ASSERT_TRUE(german.isActive()) << german.why();

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <locale>
#include <stdexcept>
#include <string>

#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define VELMORA_TEST_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMORA_TEST_LEAK_CHECKED 1
#endif
#endif
#ifndef VELMORA_TEST_LEAK_CHECKED
#define VELMORA_TEST_LEAK_CHECKED 0
#endif
#if VELMORA_TEST_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

namespace velmora::test {

class GermanLocale {
public:
    static constexpr const char* NAME = "de_DE.UTF-8";

    GermanLocale()
    {
        const char* previous = std::setlocale(LC_ALL, nullptr);
        m_savedC = previous != nullptr ? previous : "C";
        m_savedCxx = std::locale();
        const char* locpath = std::getenv("LOCPATH");
        m_hadLocpath = locpath != nullptr;
        if (m_hadLocpath)
            m_savedLocpath = locpath;

        const Generated& generated = generation();
        if (!generated.error.empty()) {
            fail(generated.error);
            return;
        }
        setenv("LOCPATH", generated.folder.c_str(), 1);
        const LeakCheckPause pause;
        if (std::setlocale(LC_ALL, NAME) == nullptr) {
            fail(std::string("setlocale(LC_ALL, ") + NAME + ") refused with LOCPATH=" +
                 generated.folder);
            return;
        }
        try {
            std::locale::global(std::locale(NAME));
        } catch (const std::runtime_error& e) {
            fail(std::string("std::locale(") + NAME + ") refused: " + e.what());
            return;
        }
        // The proof that the switch took: C's own number writing uses a comma.
        char text[16];
        std::snprintf(text, sizeof text, "%.1f", 0.5);
        if (std::string(text) != "0,5") {
            fail(std::string("the locale did not take: \"%.1f\" of 0.5 gave \"") + text + "\"");
            return;
        }
        m_active = true;
    }

    ~GermanLocale()
    {
        const LeakCheckPause pause;
        std::locale::global(m_savedCxx);
        std::setlocale(LC_ALL, m_savedC.c_str());
        if (m_hadLocpath)
            setenv("LOCPATH", m_savedLocpath.c_str(), 1);
        else
            unsetenv("LOCPATH");
    }

    GermanLocale(const GermanLocale&) = delete;
    GermanLocale& operator=(const GermanLocale&) = delete;

    /// Whether the process now runs in the German locale.
    bool isActive() const { return m_active; }
    /// Why the switch did not take; empty when it did.
    const std::string& why() const { return m_why; }

private:
    // The C library keeps a copy of the LOCPATH search list for good each
    // time it loads a locale from there; the leak checker is not to count it.
    class LeakCheckPause {
    public:
        LeakCheckPause()
        {
#if VELMORA_TEST_LEAK_CHECKED
            __lsan_disable();
#endif
        }
        ~LeakCheckPause()
        {
#if VELMORA_TEST_LEAK_CHECKED
            __lsan_enable();
#endif
        }
        LeakCheckPause(const LeakCheckPause&) = delete;
        LeakCheckPause& operator=(const LeakCheckPause&) = delete;
    };

    // The compiled locale is kept in a folder of its own per user, so the
    // many test processes ctest starts pay for localedef only once. It is
    // built aside and renamed into place, so a process never sees half of it.
    struct Generated {
        std::string folder;
        std::string error;
        Generated()
        {
            namespace fs = std::filesystem;
            std::error_code code;
            const fs::path cache =
                fs::temp_directory_path() / ("velmora-locales-" + std::to_string(getuid()));
            const fs::path target = cache / NAME;
            folder = cache.string();
            if (fs::exists(target / "LC_NUMERIC", code))
                return;
            fs::create_directories(cache, code);
            std::string staging = (cache / "staging-XXXXXX").string();
            if (mkdtemp(staging.data()) == nullptr) {
                error = "cannot make a folder under " + folder;
                return;
            }
            const std::string built = staging + "/" + NAME;
            const std::string command =
                "localedef -i de_DE -f UTF-8 '" + built + "' >/dev/null 2>&1";
            const int status = std::system(command.c_str());
            // localedef answers 1 when it only warned; the files tell.
            if (fs::exists(built + "/LC_NUMERIC", code)) {
                // Another process may have won the race: its copy serves as well.
                fs::rename(built, target, code);
            }
            fs::remove_all(staging, code);
            if (!fs::exists(target / "LC_NUMERIC", code))
                error = "localedef could not generate " + std::string(NAME) + " (status " +
                        std::to_string(status) +
                        "); the locale sources come from the locales package";
        }
    };

    static const Generated& generation()
    {
        static const Generated once;
        return once;
    }

    void fail(const std::string& why)
    {
        m_why = why;
        ADD_FAILURE() << "German locale not active: " << why;
        // Leave the process as it was.
        const LeakCheckPause pause;
        std::setlocale(LC_ALL, m_savedC.c_str());
    }

    bool m_active = false;
    std::string m_why;
    std::string m_savedC;
    std::locale m_savedCxx;
    bool m_hadLocpath = false;
    std::string m_savedLocpath;
};

} // namespace velmora::test
