#pragma once

#include <QtGlobal>

namespace Kubus {

// The header every request, response and measured-value record starts with.
class NodeId {
public:
    // Not addressed yet. Not explicit, so that records can be value-initialised from braces.
    NodeId()
        : NodeId(-1)
    {
    }
    explicit NodeId(qint32 nodeId, bool spontaneous = false)
        : nodeId(nodeId)
        , spontaneous(spontaneous)
    {
    }
    NodeId(const NodeId&) = default;
    NodeId& operator=(const NodeId&) = default;
    // A record still carrying -1 was never addressed: say so, it usually means a forgotten
    // nodeId assignment on the sending side.
    ~NodeId();

    qint32 nodeId;
    bool spontaneous;
};

} // namespace Kubus
