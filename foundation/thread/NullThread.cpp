#include "foundation/thread/NullThread.h"

namespace velmora {

NullThread& NullThread::getInstance()
{
    static NullThread instance;
    return instance;
}

} // namespace velmora
