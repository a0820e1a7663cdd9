#include "kubus/records/nodeid.h"

#include <QDebug>

namespace Kubus {

NodeId::~NodeId()
{
    if (nodeId == -1)
        qDebug() << "Error: NodeId not initialized! ";
}

} // namespace Kubus
