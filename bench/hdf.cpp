// bench-hdf [ROUNDS]: CPU time to read and check the two-rack, 32-amplifier description,
// interleaved with a baseline that only reads the same file's lines, and the heap the parser
// keeps afterwards against the file's size.

#include "hdf/hdffileparser.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const file = ZEF_SOURCE_DIR "/tests/hdf/valid_two_racks.hdf";
constexpr int PerRound = 500;

double cpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

std::size_t linesOf(const char* path)
{
    std::ifstream in(path, std::ios::in | std::ios::binary);
    std::string line;
    std::size_t bytes = 0;
    while (std::getline(in, line))
        bytes += line.size();
    return bytes;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    HdfParser::HdfFileParser parser;
    parser.setHdf(file);
    if (parser.getErrorCode() != 0 || parser.getPowerAmplifiers().size() != 32) {
        std::fprintf(stderr, "bench-hdf: %s is not the accepted 32-amplifier file\n", file);
        return 1;
    }

    std::vector<double> parse, read;
    std::size_t sink = 0;
    for (int r = 0; r < rounds; ++r) {
        double start = cpuSeconds();
        for (int i = 0; i < PerRound; ++i) {
            parser.setHdf(file);
            sink += parser.getBoards().size();
        }
        parse.push_back((cpuSeconds() - start) / PerRound);
        start = cpuSeconds();
        for (int i = 0; i < PerRound; ++i)
            sink += linesOf(file);
        read.push_back((cpuSeconds() - start) / PerRound);
    }

    // The heap a fresh parser holds after one read, against the bytes of the file.
    const std::size_t before = mallinfo2().uordblks;
    auto fresh = std::make_unique<HdfParser::HdfFileParser>(file);
    const std::size_t held = mallinfo2().uordblks - before;
    const std::size_t fileBytes = linesOf(file);

    const auto spread = [](const std::vector<double>& v) {
        return (*std::max_element(v.begin(), v.end()) - *std::min_element(v.begin(), v.end()))
            * 1e6;
    };
    std::printf("file: %s (%zu bytes of text, %zu rounds of %d)\n", file, fileBytes,
        std::size_t(rounds), PerRound);
    std::printf("read and check the file:   %8.2f us CPU median (spread %.2f us)\n",
        median(parse) * 1e6, spread(parse));
    std::printf("only read its lines:       %8.2f us CPU median (spread %.2f us)\n",
        median(read) * 1e6, spread(read));
    std::printf("share of 1 ms per file:    %8.3f\n", median(parse) / 1e-3);
    std::printf("heap held after reading:   %8zu bytes (%.1f x the file's text)\n", held,
        double(held) / double(fileBytes));
    std::printf("(checksum %zu, %zu boards)\n", sink, fresh->getBoards().size());
    std::printf("ratio: %.2f read-and-check / read-lines-only CPU time per file\n",
        median(parse) / median(read));
    return 0;
}
