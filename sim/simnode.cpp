#include "sim/simnode.h"

#include "canbus/frame/canmessagetype.h"

#include <QtEndian>

namespace Sim {

// Reads only memory of the simulator's own thread, so the thread checker is left out: it would
// record every byte read, and its first records for an erased megabyte of flash cost seconds of
// page faults per state dump.
__attribute__((no_sanitize("thread"))) int SimNode::usedFlashLength(const QByteArray& flash)
{
    const uchar* data = reinterpret_cast<const uchar*>(flash.constData());
    int end = int(flash.size());
    while (end > 0 && data[end - 1] == 0xFF)
        --end;
    return end;
}

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

bool SimNode::sendsMessage(unsigned type) const
{
    const CanBus::CanMessageTypeInfo* info = CanBus::canMessageTypeInfo(type);
    if (!info || !info->spontaneous || type == CanBus::SCM_IDENTIFY)
        return false;
    return QLatin1String(info->name).startsWith(QLatin1String(kind == MainBoard ? "TP_" : "AMP_"));
}

void SimNode::initMessages()
{
    messages.clear();
    for (const CanBus::CanMessageTypeInfo& info : CanBus::canMessageTypes()) {
        if (sendsMessage(info.type))
            messages.insert(info.type, QByteArray(qMax(0, info.length), '\0'));
    }
    if (kind == MainBoard) {
        // Equipment and location: amplifier slots 1-3 in byte 1 bits 5-7, slot 4 in byte 2
        // bit 0; rack and unit, counted from 1, in the two halves of byte 4.
        QByteArray& p = messages[CanBus::TP_COMPONENTS_AND_POSITION];
        for (int i = 0; i < equippedSlots.size(); ++i) {
            if (!equippedSlots.at(i))
                continue;
            if (i < 3)
                p[1] = char(quint8(p.at(1)) | (1u << (i + 5)));
            else
                p[2] = char(quint8(p.at(2)) | 1u);
        }
        p[4] = char(((qMax(rack, 1) - 1) << 4) | (qMax(unit, 1) - 1));
    }
}

void SimNode::addFault(const NodeFault& fault)
{
    if (fault.kind == NodeFault::Send) {
        SpontaneousSource source;
        source.type = unsigned(fault.messageType);
        source.periodUs = fault.periodUs;
        source.ackRequest = fault.ackRequest;
        source.count = fault.count;
        spontaneous.append(source);
        return;
    }
    ActiveFault active;
    active.fault = fault;
    // Different nodes under one bus fault lose different frames, each repeatably.
    active.random = fault.seed ^ (serial * 2654435761u);
    if (active.random == 0)
        active.random = 1;
    faults.append(active);
}

} // namespace Sim
