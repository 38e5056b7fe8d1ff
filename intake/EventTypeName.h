#pragma once

namespace velmora {

/// Number of named event kinds (codes 0 to 13).
constexpr int EVENT_TYPE_COUNT = 14;

/// The UTF-16 display name of event kind 0..13; an empty text for any other
/// code (negative ones included), so a stray code never reads past the table.
const char16_t* eventTypeName(int code);
/// The same name as UTF-8 text; "" outside 0..13.
const char* eventTypeNameUtf8(int code);

} // namespace velmora
