#pragma once

#include "kubus/catalogue/onewayrecords.h"

#include <QMap>
#include <QObject>
#include <QVector>

namespace CanBus {

// The node-id allocator of one bus: the nodes that answered the current identify cycle, and a
// backup of every node that ever had an id here, so that a node that restarts without id gets
// the id it had before (matched by part number, variant and serial number).
class CanDeviceInfoDataBase : public QObject {
    Q_OBJECT

public:
    static constexpr int NoNodeId = 255;

    explicit CanDeviceInfoDataBase(QObject* parent = nullptr);

    void addNode(const Kubus::CanDeviceInfo& info);
    // The first node of the cycle without id, now given one and made the current node; a node id
    // of -1 when every node has one. The id is 255 when the id space is exhausted.
    Kubus::CanDeviceInfo nextUninitilizedNode();
    int nextFreeNodeId(const Kubus::CanDeviceInfo& info);
    int unusedNodeId() const;
    // The id the backup holds for this node, or -1.
    int findNodeInNodeBackup(const Kubus::CanDeviceInfo& info) const;
    Kubus::CanDeviceInfo currentNode() const;
    void deleteCurrentNode();
    // Drops the current node because no id was free for it; it stays listed in nodesWithoutId()
    // until the cycle is cleared.
    void dropCurrentNodeWithoutId();
    bool allNodesInitialized() const;
    void clear();
    void init(const Kubus::IdentifyFoundNodes& found);

    const QVector<Kubus::CanDeviceInfo>& nodes() const { return m_nodes; }
    const QVector<Kubus::CanDeviceInfo>& nodesWithoutId() const { return m_withoutId; }

private:
    QVector<Kubus::CanDeviceInfo> m_nodes;
    QVector<Kubus::CanDeviceInfo> m_withoutId;
    int m_currentIndex = 0;
    // Ordered by id, so that a node known under two ids always gets the lower one.
    QMap<int, Kubus::CanDeviceInfo> m_backup;
};

} // namespace CanBus
