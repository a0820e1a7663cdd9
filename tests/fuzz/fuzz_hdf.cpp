// Description files: any bytes give an error code; an accepted file promises boards and amps,
// every RF path it defines is served, and the per-path answers agree with each other.
#include "hdf/hdffileparser.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

using namespace HdfParser;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

bool isBoard(const HdfFileParser& parser, const Board& board)
{
    const std::vector<Board>& boards = parser.getBoards();
    return std::find(boards.begin(), boards.end(), board) != boards.end();
}

void askPath(const HdfFileParser& parser, std::uint8_t rfPath, bool accepted)
{
    const std::vector<PreAmp> preAmps = parser.getPreAmplifiersForRfPath(rfPath);
    const std::vector<Amp> amps = parser.getPowerAmplifiersForRfPath(rfPath);
    const std::vector<MilmegaAmp> milmegaAmps = parser.getMilmegaAmplifiersForRfPath(rfPath);
    const std::vector<MeasurementCoupler> couplers
        = parser.getMeasurementCouplersForRfPath(rfPath);
    const std::vector<MeasurementCouplerCable> cables
        = parser.getMeasurementCouplerCablesForRfPath(rfPath);
    const std::vector<OutputSwitchRadiall1_2> radiall1_2
        = parser.getOutputSwitchesRadiall_1_2ForRfPath(rfPath);
    const std::vector<OutputSwitchRadiall2_1> radiall2_1
        = parser.getOutputSwitchesRadiall_2_1ForRfPath(rfPath);
    const std::vector<Board> boards = parser.getBoardsForRfPath(rfPath);

    check(parser.doesRfPathHavePreAmplifier(rfPath) == !preAmps.empty());
    check(parser.doesRfPathHaveAmplifier(rfPath) == !amps.empty());
    check(parser.doesRfPathHaveMilmegaAmplifier(rfPath) == !milmegaAmps.empty());
    for (const Amp& a : amps)
        check(std::count(a.rfPaths.begin(), a.rfPaths.end(), rfPath) > 0);
    // Boards of a path are distinct, and on an accepted file each is one of the file's boards.
    for (std::size_t i = 0; i < boards.size(); ++i) {
        check(std::count(boards.begin(), boards.end(), boards[i]) == 1);
        check(!accepted || isBoard(parser, boards[i]));
    }
    const std::size_t owners = amps.size() + preAmps.size() + couplers.size() + cables.size()
        + radiall1_2.size() + radiall2_1.size();
    check(boards.size() <= owners && (owners == 0) == boards.empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    static HdfFileParser parser;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    parser.setHdf(in, "fuzz.hdf");
    const int code = parser.getErrorCode();
    check(code >= 0 && code <= 15);
    const bool accepted = code == 0;
    check(!accepted || (!parser.getBoards().empty() && !parser.getPowerAmplifiers().empty()));

    for (const RfPathCooling& cooling : parser.getRfPathCoolings()) {
        askPath(parser, cooling.rfPath, accepted);
        if (!accepted)
            continue;
        check(cooling.output >= 1 && cooling.output <= 10);
        check(parser.doesRfPathHaveMilmegaAmplifier(cooling.rfPath)
            || parser.doesRfPathHaveExternalAmplifier(cooling.rfPath)
            || (parser.doesRfPathHaveAmplifier(cooling.rfPath)
                && parser.doesRfPathHavePreAmplifier(cooling.rfPath)));
    }
    // Numbers outside the defined paths answer as well.
    askPath(parser, 0, accepted);
    askPath(parser, 255, accepted);
    return 0;
}
