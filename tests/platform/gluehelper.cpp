// zef-glue-helper MODE [ARG]
//   segv | abort | fpe | term   the fatal-signal handler catches a real fault or signal
//   unknown                     the handler installed by hand for SIGUSR1
//   maintenance                 Common::stop4Maintenance()
//   resetline VALUE             DeviceResetLine::resetLine(VALUE)
#include "app/deviceresetline.h"
#include "kubus/log/callstack.h"
#include "platform/maintenance.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

// Exported by name (the program links with -rdynamic), so the call stack must show it.
__attribute__((noinline)) void glueHelperCrash(const char* mode)
{
    if (!std::strcmp(mode, "segv")) {
        // A write into a read-only page: a real fault that the sanitizers do not intercept.
        void* page = ::mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        *static_cast<volatile int*>(page) = 1;
    } else if (!std::strcmp(mode, "abort")) {
        // Called through a pointer, so the call is not moved into an unnamed cold section.
        void (*volatile abortNow)() = std::abort;
        abortNow();
    } else if (!std::strcmp(mode, "fpe")) {
        std::raise(SIGFPE);
    } else if (!std::strcmp(mode, "term")) {
        std::raise(SIGTERM);
    } else if (!std::strcmp(mode, "unknown")) {
        std::signal(SIGUSR1, fatalSignalHandler);
        std::raise(SIGUSR1);
    }
    // Keeps this frame on the stack: no tail call into the C library.
    asm volatile("" ::: "memory");
}

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const char* mode = argv[1];
    if (!std::strcmp(mode, "maintenance"))
        Common::stop4Maintenance();
    if (!std::strcmp(mode, "resetline") && argc > 2) {
        DeviceResetLine().resetLine(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 0)));
        return 0;
    }
    printCallStackOnCrash();
    glueHelperCrash(mode);
    return 3;
}
