#include "kubus/thread/threadutils.h"
#include "tools/nodetool/nodetool.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    // Log lines of the program's layers go to standard output; the tool keeps standard output for
    // its result and sends every log line to standard error.
    std::fflush(stdout);
    const int resultFd = dup(STDOUT_FILENO);
    dup2(STDERR_FILENO, STDOUT_FILENO);

    Kubus::useQtEventDispatcher();
    QCoreApplication app(argc, argv);
    int exitCode = 0;
    {
        NodeTool tool(resultFd);
        exitCode = tool.run(app.arguments().mid(1));
    }
    std::fflush(stdout);
    // The bus threads of the message layer live for the whole process; leave without tearing
    // them down.
    _exit(exitCode);
}
