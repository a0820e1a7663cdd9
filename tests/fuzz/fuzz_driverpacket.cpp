// Packets a controller sends to the simulator: a write record encodes back to itself.
#include "sim/driverpacket.h"

#include <cstdlib>

using Sim::DriverPacket;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const QByteArray packet(reinterpret_cast<const char*>(data), qsizetype(size));
    const DriverPacket decoded = DriverPacket::decode(packet);
    if (decoded.kind() == DriverPacket::Ioctl)
        (void)DriverPacket::configurationProblem(decoded.configurationWord());
    if (decoded.kind() != DriverPacket::WriteRecord)
        return 0;
    const DriverPacket again = DriverPacket::decode(
        DriverPacket::encodeWriteRecord(decoded.identifier(), decoded.payload()));
    if (again.kind() != DriverPacket::WriteRecord || again.identifier() != decoded.identifier()
        || again.payload() != decoded.payload())
        std::abort();
    return 0;
}
