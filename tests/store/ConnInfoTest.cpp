// What a desk keeps of a connection string: everything but its secrets.

#include "store/ConnInfo.h"
#include "store/PgConnection.h"

#include <gtest/gtest.h>

using namespace velmora;

TEST(ConnInfoTest, ASettingsFileNeverHoldsAPassword)
{
    struct Case {
        const char* text;
        bool readable;
        bool password;
        const char* kept; ///< withoutPassword
    };
    const Case cases[] = {
        {"", true, false, ""},
        {"host=db.example dbname=velmora user=desk", true, false, "user='desk' dbname='velmora' host='db.example'"},
        {"host=db password=s3cret dbname=v", true, true, "dbname='v' host='db'"},
        {"postgresql://desk:s3cret@db:5433/velmora?sslmode=verify-full", true, true,
         "user='desk' dbname='velmora' host='db' port='5433' sslmode='verify-full'"},
        {"host=db sslpassword=key dbname=v", true, true, "dbname='v' host='db'"},
        {"host='it''s' dbname=v", false, false, ""},
        {"host=a\\'b dbname=v", true, false, "dbname='v' host='a\\'b'"},
        {"nonsense", false, false, ""},
        {"host=db bogus=1", false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        EXPECT_EQ(ConnInfo::check(c.text, error), c.readable) << error;
        EXPECT_EQ(ConnInfo::hasPassword(c.text), c.password);
        const std::string kept = ConnInfo::withoutPassword(c.text);
        EXPECT_EQ(kept, c.kept);
        EXPECT_EQ(kept.find("s3cret"), std::string::npos);
        if (c.readable && !kept.empty()) {
            // What is kept reads back as the same connection, less the secret.
            EXPECT_TRUE(ConnInfo::check(kept, error)) << error;
            EXPECT_EQ(PgConnection::describe(kept), PgConnection::describe(c.text));
        }
    }
}
