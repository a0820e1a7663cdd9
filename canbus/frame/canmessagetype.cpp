#include "canbus/frame/canmessagetype.h"

#include <QHash>

namespace CanBus {

namespace {

struct TypeIndex {
    QList<CanMessageTypeInfo> rows;
    QHash<unsigned, int> byCode;
    QHash<QString, int> byName;

    TypeIndex()
    {
        rows = {
#define CAN_MESSAGE_TYPE(NAME, CODE, PRIORITY, LENGTH, SPONTANEOUS)                                \
    CanMessageTypeInfo { NAME, #NAME, PRIORITY, LENGTH, SPONTANEOUS != 0 },
#include "canbus/frame/canmessagetypes.def"
        };
        for (int i = 0; i < rows.size(); ++i) {
            byCode.insert(rows[i].type, i);
            byName.insert(QString::fromLatin1(rows[i].name), i);
        }
    }
};

// Built once, on first use; read-only afterwards, so every thread may share it.
const TypeIndex& typeIndex()
{
    static const TypeIndex index;
    return index;
}

} // namespace

const QList<CanMessageTypeInfo>& canMessageTypes()
{
    return typeIndex().rows;
}

const CanMessageTypeInfo* canMessageTypeInfo(unsigned code)
{
    const TypeIndex& index = typeIndex();
    const auto it = index.byCode.constFind(code);
    return it == index.byCode.constEnd() ? nullptr : &index.rows[*it];
}

bool isKnownCanMessageType(unsigned code)
{
    return canMessageTypeInfo(code) != nullptr;
}

QString canMessageTypeName(unsigned code)
{
    const CanMessageTypeInfo* info = canMessageTypeInfo(code);
    return info ? QString::fromLatin1(info->name) : QStringLiteral("UNKNOWN_MESSAGE");
}

bool canMessageTypeFromName(const QString& name, eCanMessageType* type)
{
    const TypeIndex& index = typeIndex();
    const auto it = index.byName.constFind(name);
    if (it == index.byName.constEnd())
        return false;
    if (type)
        *type = index.rows[*it].type;
    return true;
}

} // namespace CanBus
