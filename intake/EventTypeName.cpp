#include "intake/EventTypeName.h"

namespace velmora {

namespace {

const char16_t* const WIDE_NAMES[EVENT_TYPE_COUNT] = {
    u"Sensor",          u"Motion",         u"Video Loss",           u"Text-In",
    u"S.M.A.R.T. Bad",  u"S.M.A.R.T. Temp", u"Record Bad",           u"Storage Bad",
    u"Storage Full",    u"Archive Storage Bad", u"Archive Storage Full", u"G-Sensor",
    u"Fan Failure",     u"Panic",
};

const char* const NARROW_NAMES[EVENT_TYPE_COUNT] = {
    "Sensor",          "Motion",          "Video Loss",           "Text-In",
    "S.M.A.R.T. Bad",  "S.M.A.R.T. Temp", "Record Bad",           "Storage Bad",
    "Storage Full",    "Archive Storage Bad", "Archive Storage Full", "G-Sensor",
    "Fan Failure",     "Panic",
};

bool inTable(int code) { return static_cast<unsigned>(code) < static_cast<unsigned>(EVENT_TYPE_COUNT); }

} // namespace

const char16_t* eventTypeName(int code) { return inTable(code) ? WIDE_NAMES[code] : u""; }

const char* eventTypeNameUtf8(int code) { return inTable(code) ? NARROW_NAMES[code] : ""; }

} // namespace velmora
