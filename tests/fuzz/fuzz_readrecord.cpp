// The driver's 16-byte read records: one that decodes survives the simulator's encoding.
#include "canbus/device/candevicescm.h"
#include "sim/driverpacket.h"

#include <cstdlib>

using CanBus::CanConfiguration;
using CanBus::CanDeviceScm;
using CanBus::CanMessage;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    for (std::size_t at = 0; at + CanDeviceScm::ReadRecordSize <= size;
         at += CanDeviceScm::ReadRecordSize) {
        CanMessage message;
        if (CanDeviceScm::decodeReadRecord(bytes + at, CanConfiguration::Standard11Bit, &message)
            && message.rawIdentifier() > 0x7FF)
            std::abort();
        if (!CanDeviceScm::decodeReadRecord(bytes + at, CanConfiguration::Extended29Bit, &message))
            continue;
        const QByteArray record
            = Sim::DriverPacket::encodeReadRecord(message.rawIdentifier(), message.bytes());
        CanMessage again;
        if (!CanDeviceScm::decodeReadRecord(
                record.constData(), CanConfiguration::Extended29Bit, &again)
            || again != message)
            std::abort();
    }
    return 0;
}
