#include "sim/servicedatabehaviour.h"

#include "sim/labellayout.h"

namespace Sim {

using namespace CanBus;

bool ServiceDataBehaviour::accepts(const SimNode& node, const CanMessage& frame) const
{
    const unsigned type = frame.identifier().messageTypeCode();
    return (type == SCM_SERVICE_DATA_RD || type == SCM_SERVICE_DATA_WR) && addressedTo(node, frame);
}

void ServiceDataBehaviour::handle(
    SimNode& node, const CanMessage& frame, QVector<NodeAnswer>& answers) const
{
    const unsigned type = frame.identifier().messageTypeCode();
    const QByteArray bytes = frame.bytes();
    const bool read = type == SCM_SERVICE_DATA_RD;
    // A read names selector and word; a write carries one to four data bytes after them.
    if (bytes.size() < 3 || (read && bytes.size() != 3) || (!read && bytes.size() < 4)) {
        reject(node, frame, ErrorBadParameter, answers);
        return;
    }
    const int selector = quint8(bytes.at(0));
    const int address = 4 * (quint8(bytes.at(1)) | (quint8(bytes.at(2)) << 8));
    const int length = read ? 4 : bytes.size() - 3;
    if (!node.labels.contains(selector)) {
        reject(node, frame, ErrorUnknownSelector, answers);
        return;
    }
    if (address + length
        > qMax(node.labels.value(selector).size(), LabelLayout::areaSize(selector))) {
        reject(node, frame, ErrorBadParameter, answers);
        return;
    }
    if (!read && node.firmwareAccess) {
        reject(node, frame, ErrorWrongState, answers);
        return;
    }

    QByteArray payload = bytes;
    if (read) {
        ++node.serviceDataReads;
        payload += node.labelBytes(selector, address, 4);
    } else {
        const QByteArray data = bytes.mid(3);
        node.writeLabel(selector, address, data);
        ++node.serviceDataWrites;
        node.lastServiceDataWrite
            = QString("%1/%2/%3").arg(selector).arg(address).arg(QString(data.toHex().toUpper()));
    }
    answers.append(
        { CanMessage(nodeIdentifier(node, type, answerPriority), CanPayload(payload)), 0 });
}

} // namespace Sim
