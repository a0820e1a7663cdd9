// Description files: any bytes give an error code; an accepted file promises boards and amps.
#include "hdf/hdffileparser.h"

#include <cstdlib>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    static HdfParser::HdfFileParser parser;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    parser.setHdf(in, "fuzz.hdf");
    const int code = parser.getErrorCode();
    if (code < 0 || code > 15)
        std::abort();
    if (code == 0 && (parser.getBoards().empty() || parser.getPowerAmplifiers().empty()))
        std::abort();
    return 0;
}
