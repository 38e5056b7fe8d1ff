#include "db/AbstractSetup.h"

#include "foundation/File.h"
#include "foundation/thread/ScopedLock.h"

namespace velmora {

void AbstractSetup::open(const char* path)
{
    // Asked before anything opens the file: opening creates it.
    const bool existed = File::exists(path);
    // Paths are UTF-8 already and are used whole: a cut path would open or
    // create a different file.
    m_database.open(path, 5000);
    onOpened(m_database);
    if (!existed)
        writeDefaults(m_database);
}

void AbstractSetup::close()
{
    m_database.close();
}

int32_t AbstractSetup::getInt(const char* key, int32_t defaultValue)
{
    ScopedLock lock(m_lock);
    return m_database.getInt(key, defaultValue);
}

std::string AbstractSetup::getString(const char* key, const char* defaultValue)
{
    ScopedLock lock(m_lock);
    std::string value;
    m_database.getString(key, value, defaultValue);
    return value;
}

} // namespace velmora
