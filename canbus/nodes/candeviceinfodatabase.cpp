#include "canbus/nodes/candeviceinfodatabase.h"

namespace CanBus {

namespace {

bool sameNode(const Kubus::CanDeviceInfo& a, const Kubus::CanDeviceInfo& b)
{
    return a.partNumber == b.partNumber && a.variant == b.variant
        && a.serialNumber == b.serialNumber;
}

} // namespace

CanDeviceInfoDataBase::CanDeviceInfoDataBase(QObject* parent)
    : QObject(parent)
{
}

void CanDeviceInfoDataBase::addNode(const Kubus::CanDeviceInfo& info)
{
    // A node that answers twice in one cycle (the broadcast and a ping to it) is one node: two
    // entries would make it found twice and cached twice, and the cached pass would then give the
    // second entry another id.
    for (Kubus::CanDeviceInfo& known : m_nodes) {
        if (sameNode(known, info)) {
            if (known.nodeId >= NoNodeId)
                known = info;
            if (info.nodeId >= 0 && info.nodeId < NoNodeId)
                m_backup.insert(info.nodeId, info);
            return;
        }
    }
    m_nodes.append(info);
    if (info.nodeId >= 0 && info.nodeId < NoNodeId)
        m_backup.insert(info.nodeId, info);
}

Kubus::CanDeviceInfo CanDeviceInfoDataBase::nextUninitilizedNode()
{
    for (int i = 0; i < m_nodes.size(); ++i) {
        if (m_nodes.at(i).nodeId < NoNodeId)
            continue;
        m_nodes[i].nodeId = nextFreeNodeId(m_nodes.at(i));
        m_currentIndex = i;
        return m_nodes.at(i);
    }
    Kubus::CanDeviceInfo none;
    none.nodeId = -1;
    return none;
}

int CanDeviceInfoDataBase::nextFreeNodeId(const Kubus::CanDeviceInfo& info)
{
    const int known = findNodeInNodeBackup(info);
    if (known >= 0)
        return known;
    const int id = unusedNodeId();
    if (id < NoNodeId) {
        Kubus::CanDeviceInfo entry = info;
        entry.nodeId = id;
        m_backup.insert(id, entry);
    }
    return id;
}

int CanDeviceInfoDataBase::unusedNodeId() const
{
    for (int id = 0; id < NoNodeId; ++id)
        if (!m_backup.contains(id))
            return id;
    return NoNodeId;
}

int CanDeviceInfoDataBase::findNodeInNodeBackup(const Kubus::CanDeviceInfo& info) const
{
    for (auto it = m_backup.constBegin(); it != m_backup.constEnd(); ++it)
        if (sameNode(it.value(), info))
            return it.key();
    return -1;
}

Kubus::CanDeviceInfo CanDeviceInfoDataBase::currentNode() const
{
    if (m_nodes.isEmpty())
        return Kubus::CanDeviceInfo();
    if (m_currentIndex >= m_nodes.size())
        return m_nodes.first();
    return m_nodes.at(m_currentIndex);
}

void CanDeviceInfoDataBase::deleteCurrentNode()
{
    if (m_currentIndex < m_nodes.size())
        m_nodes.removeAt(m_currentIndex);
}

void CanDeviceInfoDataBase::dropCurrentNodeWithoutId()
{
    if (m_currentIndex < m_nodes.size())
        m_withoutId.append(m_nodes.at(m_currentIndex));
    deleteCurrentNode();
}

bool CanDeviceInfoDataBase::allNodesInitialized() const
{
    for (const Kubus::CanDeviceInfo& info : m_nodes)
        if (info.nodeId >= NoNodeId)
            return false;
    return true;
}

void CanDeviceInfoDataBase::clear()
{
    m_nodes.clear();
    m_withoutId.clear();
    m_currentIndex = 0;
}

void CanDeviceInfoDataBase::init(const Kubus::IdentifyFoundNodes& found)
{
    m_nodes = found.nodes;
    m_currentIndex = 0;
}

} // namespace CanBus
