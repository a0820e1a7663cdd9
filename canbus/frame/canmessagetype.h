#pragma once

#include <QList>
#include <QString>

namespace CanBus {

// The message type of a frame: identifier bits 8-19. Any 12-bit code can arrive on the
// bus; the enumerators are the known ones (see canmessagetypes.def).
enum eCanMessageType : unsigned {
#define CAN_MESSAGE_TYPE(name, code, priority, length, spontaneous) name = code,
#include "canbus/frame/canmessagetypes.def"
};

// One row of the type table.
struct CanMessageTypeInfo {
    eCanMessageType type;
    const char* name;
    int priority; // -1: the type has no default
    int length; // -1: the type has no default
    bool spontaneous;

    bool hasDefaults() const { return length >= 0; }
    // The priority a typed wrapper builds with: types that only nodes send have none of
    // their own, the frame then goes out at the most urgent one.
    unsigned defaultPriority() const { return priority < 0 ? 0u : unsigned(priority); }
};

// Compile-time view of one row, used by the typed wrappers (CanMessageT<SCM_POLL>).
template <eCanMessageType TYPE> struct CanMessageTypeTraits;

#define CAN_MESSAGE_TYPE(NAME, CODE, PRIORITY, LENGTH, SPONTANEOUS)                                \
    template <> struct CanMessageTypeTraits<NAME> {                                                \
        static constexpr eCanMessageType type = NAME;                                              \
        static constexpr const char* name = #NAME;                                                 \
        static constexpr int priority = PRIORITY;                                                  \
        static constexpr int length = LENGTH;                                                      \
        static constexpr bool spontaneous = SPONTANEOUS != 0;                                      \
    };
#include "canbus/frame/canmessagetypes.def"

// The number of known message types.
constexpr int canMessageTypeCount = 0
#define CAN_MESSAGE_TYPE(name, code, priority, length, spontaneous) +1
#include "canbus/frame/canmessagetypes.def"
    ;

// Every known type, in table order.
const QList<CanMessageTypeInfo>& canMessageTypes();

// The row of a code, or null for a code that is not a known type.
const CanMessageTypeInfo* canMessageTypeInfo(unsigned code);

bool isKnownCanMessageType(unsigned code);

// The type's name as written in the table, or "UNKNOWN_MESSAGE".
QString canMessageTypeName(unsigned code);

// The type of a table name; false for a name that is not in the table.
bool canMessageTypeFromName(const QString& name, eCanMessageType* type);

} // namespace CanBus
