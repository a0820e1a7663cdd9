// The simulator's rack files.
#include "sim/rackdescription.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)Sim::RackDescription::parse(text).errorText();
    return 0;
}
