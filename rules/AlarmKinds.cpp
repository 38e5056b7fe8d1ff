#include "rules/AlarmKinds.h"

#include "intake/EventTypeName.h"

namespace velmora {

namespace {

const char* const NARROW_NAMES[AlarmKinds::RULE_COUNT] = {"Silent", "Zone Entry", "Zone Exit", "Speeding"};
const char16_t* const WIDE_NAMES[AlarmKinds::RULE_COUNT] = {u"Silent", u"Zone Entry", u"Zone Exit", u"Speeding"};

} // namespace

bool AlarmKinds::isRuleKind(int32_t kind) { return kind >= RULE_FIRST && kind < RULE_FIRST + RULE_COUNT; }

const char* AlarmKinds::name(int32_t kind) {
    return isRuleKind(kind) ? NARROW_NAMES[kind - RULE_FIRST] : eventTypeNameUtf8(kind);
}

const char16_t* AlarmKinds::wideName(int32_t kind) {
    return isRuleKind(kind) ? WIDE_NAMES[kind - RULE_FIRST] : eventTypeName(kind);
}

std::vector<int32_t> AlarmKinds::all() {
    std::vector<int32_t> kinds;
    for (int32_t kind = 0; kind < EVENT_TYPE_COUNT; ++kind) {
        kinds.push_back(kind);
    }
    for (int32_t kind = RULE_FIRST; kind < RULE_FIRST + RULE_COUNT; ++kind) {
        kinds.push_back(kind);
    }
    return kinds;
}

} // namespace velmora
