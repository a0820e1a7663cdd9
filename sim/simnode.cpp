#include "sim/simnode.h"

#include <QtEndian>

namespace Sim {

QByteArray SimNode::labelBytes(int selector, int address, int length) const
{
    QByteArray result(length, '\0');
    const QByteArray area = labels.value(selector);
    for (int i = 0; i < length; ++i) {
        const int at = address + i;
        if (at >= 0 && at < area.size())
            result[i] = area.at(at);
    }
    return result;
}

void SimNode::writeLabel(int selector, int address, const QByteArray& bytes)
{
    if (address < 0)
        return;
    QByteArray& area = labels[selector];
    const int needed = qMax(labelAreaSize, address + bytes.size());
    if (area.size() < needed)
        area.append(QByteArray(needed - area.size(), '\0'));
    area.replace(address, bytes.size(), bytes);
}

QString SimNode::labelText(int selector, int address, int length) const
{
    const QByteArray bytes = labelBytes(selector, address, length);
    const int end = bytes.indexOf('\0');
    return QString::fromLatin1(end < 0 ? bytes : bytes.left(end));
}

QString SimNode::at90Version() const
{
    return labelText(boardLabelSelector(), at90VersionAddress, versionLength);
}

QString SimNode::fpgaVersion() const
{
    return labelText(boardLabelSelector(), fpgaVersionAddress, versionLength);
}

void SimNode::setAt90Version(const QString& version)
{
    QByteArray bytes = version.toLatin1().left(versionLength);
    bytes.append(QByteArray(versionLength - bytes.size(), '\0'));
    writeLabel(boardLabelSelector(), at90VersionAddress, bytes);
}

void SimNode::setFpgaVersion(const QString& version)
{
    QByteArray bytes = version.toLatin1().left(versionLength);
    bytes.append(QByteArray(versionLength - bytes.size(), '\0'));
    writeLabel(boardLabelSelector(), fpgaVersionAddress, bytes);
}

void SimNode::writeIdentityLabel()
{
    QByteArray part(4, '\0');
    qToLittleEndian<quint32>(partNumber, part.data());
    writeLabel(boardLabelSelector(), 12, part);
    writeLabel(boardLabelSelector(), 16, QByteArray(1, char(variant)));
    QByteArray serialBytes(4, '\0');
    qToLittleEndian<quint32>(serial, serialBytes.data());
    writeLabel(boardLabelSelector(), 20, serialBytes);
}

void SimNode::addFault(const NodeFault& fault)
{
    ActiveFault active;
    active.fault = fault;
    // Different nodes under one bus fault lose different frames, each repeatably.
    active.random = fault.seed ^ (serial * 2654435761u);
    if (active.random == 0)
        active.random = 1;
    faults.append(active);
}

} // namespace Sim
