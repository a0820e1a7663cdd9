#pragma once

#include <QObject>

namespace CanBus {

class CanAsyncReadWrite;
class CanSpontaneousMessageFactory;

// Builds and connects the spontaneous handlers of one bus.
class SpontaneousBase : public QObject {
    Q_OBJECT

public:
    explicit SpontaneousBase(QObject* parent = nullptr)
        : QObject(parent)
    {
    }

    virtual void create(CanAsyncReadWrite* pair, CanSpontaneousMessageFactory& factory) = 0;
};

} // namespace CanBus
