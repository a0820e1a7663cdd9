#include "platform/maintenance.h"

#include "kubus/log/callstack.h"
#include "platform/rootpath.h"

#include <cstdio>
#include <unistd.h>

namespace Common {

void stop4Maintenance()
{
    // Built before the fork: the child of a threaded program should only exec.
    const QByteArray script = Platform::rootPathBytes("/usr/local/bin") + "/ZefSw";
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl(
            "/bin/sh", "sh", script.constData(), "stop4Maintenance", static_cast<char*>(nullptr));
        printCallStack();
        std::fflush(nullptr);
        ::_exit(-1);
    }
    printCallStack();
    // Leave at once: static destructors would race the CAN threads that are still running.
    std::fflush(nullptr);
    ::_exit(-1);
}

} // namespace Common
