#include "foundation/ClassicLocale.h"

namespace velmora {

locale_t ClassicLocale::handle()
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

} // namespace velmora
