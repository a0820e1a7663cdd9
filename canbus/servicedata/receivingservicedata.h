#pragma once

#include "canbus/engine/bufferedsignaltransition.h"

#include <QByteArray>

namespace CanBus {

class CanMessageFactory;

// Takes the node's answer for one service-data word: only an answer for this word and the
// command's selector counts (others leave the state waiting); its data bytes, without the first
// skip ones, go to the command's field buffer.
class ReceivingServiceData : public BufferedSignalTransition {
    Q_OBJECT

public:
    ReceivingServiceData(StateMachine& machine, CanMessageFactory& factory, const quint8& selector,
        QByteArray& buffer, QState* source, QAbstractState* target, unsigned address, int skip);

protected:
    bool eventTest(QEvent* event) override;
    void onTransition(QEvent* event) override;

private:
    const quint8& m_selector;
    QByteArray& m_buffer;
    const unsigned m_wordAddress;
    const int m_skip;
};

} // namespace CanBus
