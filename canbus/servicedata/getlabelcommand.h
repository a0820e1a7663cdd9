#pragma once

#include "canbus/servicedata/getservicedatacommand.h"

namespace CanBus {

// Reads one electronic label. Labels whose Encoding byte says BCD have part number, product
// index, variant and serial number turned into plain numbers before the answer.
template <class Request> class GetLabelCommand : public GetServiceDataCommand<Request> {
public:
    GetLabelCommand(CanNodeEngine& engine, quint8 selector, QObject* parent = nullptr)
        : GetServiceDataCommand<Request>(engine, selector, parent)
    {
    }

    QState* readEncoding(QState* root, QState* previous)
    {
        return this->template read<ServiceData::Encoding>(root, previous);
    }
    // PartNumber, ProductIndex, Variant, Serial, ProductionDate, Name.
    QState* readLabelWithOutEncoding(QState* root, QState* previous)
    {
        QState* s = this->template read<ServiceData::PartNumber>(root, previous);
        s = this->template read<ServiceData::ProductIndex>(root, s);
        s = this->template read<ServiceData::Variant>(root, s);
        s = this->template read<ServiceData::Serial>(root, s);
        s = this->template read<ServiceData::ProductionDate>(root, s);
        return this->template read<ServiceData::Name>(root, s);
    }
    // The seven fields every label has; labels with more override it.
    virtual QState* readLabel(QState* root, QState* previous)
    {
        return readLabelWithOutEncoding(root, readEncoding(root, previous));
    }

    QState* readFields(QState* root, QState* initial) override { return readLabel(root, initial); }

    void dataWritten() override
    {
        auto& label = this->m_response;
        if (label.encoding.isBcd) {
            label.setPartNumber(ServiceData::fromBcd(label.partNumber, 8));
            label.setProductIndex(int(ServiceData::fromBcd(quint32(label.productIndex), 4)));
            label.setVariant(ServiceData::fromBcd(label.variant, 2));
            label.setSerialNumber(ServiceData::fromBcd(label.serialNumber, 8));
        }
        GetServiceDataCommand<Request>::dataWritten();
    }
};

} // namespace CanBus
