// The compact frame text "1C0123FF#0102": what parses must print back to the same frame.
#include "canbus/frame/canmessage.h"

#include <cstdlib>

using CanBus::CanMessage;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
    QString error;
    const std::optional<CanMessage> message = CanMessage::fromFrameText(text, &error);
    if (!message) {
        if (error.isEmpty())
            std::abort();
        return 0;
    }
    const std::optional<CanMessage> again = CanMessage::fromFrameText(message->toFrameText());
    if (!again || *again != *message || message->length() > 8)
        std::abort();
    (void)message->toString();
    return 0;
}
