#pragma once

#include "canbus/frame/canmessaget.h"

#include <QByteArray>

#include <functional>

namespace CanBus {

class CanMessageFactory;

// Builds and sends one service-data write. What to write is asked from the source each time,
// so a chart built once can write different words on every pass.
class SendMessage_SCM_SERVICE_DATA_WR {
public:
    struct Word {
        quint8 selector = 0;
        unsigned byteAddress = 0; // a multiple of 4
        QByteArray data; // up to 4 bytes
    };
    using Source = std::function<Word()>;

    SendMessage_SCM_SERVICE_DATA_WR(CanMessageFactory& factory, Source source);

    void sendCanMessage();
    static CanMessageT<SCM_SERVICE_DATA_WR> build(const Word& word);

private:
    CanMessageFactory& m_factory;
    Source m_source;
};

} // namespace CanBus
