// Drives the logging layer from the command line for the log tests:
//   line TEXT FUNCTION        one kuPrint (FUNCTION "@null" passes a null pointer)
//   errorline 0|1             kuErrorLine
//   spaced COUNT MS           COUNT lines, MS milliseconds apart
//   port [noapp]              prints the log server's port (noapp: without an application object)
//   flood CLIENTS LINES       waits for CLIENTS log clients, logs LINES lines from two threads
//       into a log file on /dev/null, reports on stderr how far its peak memory grew, then logs
//       "flood done" and exits once its standard input ends, reporting how long the exit handlers
//       (the log server's shutdown among them) took.
#include "kubus/log/kulog.h"
#include "kubus/log/logfile.h"
#include "kubus/log/networklogger.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

qint64 statusKb(const char* field)
{
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

QElapsedTimer exitClock;

int flood(int argc, char** argv)
{
    // Registered before the log server exists, so it runs after the server's own exit handler;
    // what the process does after its handlers (the leak check of a sanitizer build) is left out.
    std::atexit([] {
        std::fprintf(stderr, "exit handlers took %lld ms\n", exitClock.elapsed());
        std::fflush(stderr);
    });
    QCoreApplication app(argc, argv);
    const int clients = atoi(argv[2]);
    const int lines = atoi(argv[3]);
    Kubus::LogFile::init("/dev/null");
    std::fprintf(stderr, "port %d\n", Kubus::NetworkLogger::port());
    std::fflush(stderr);
    while (Kubus::NetworkLogger::clientCount() < clients)
        QThread::msleep(5);
    const qint64 before = statusKb("VmRSS:");
    std::vector<std::thread> workers;
    for (int t = 0; t < 2; ++t) {
        workers.emplace_back([t, lines] {
            for (int n = t; n < lines; n += 2)
                Kubus::kuPrint(QString("flood %1 ").arg(n).leftJustified(200, 'x'), "void flood()");
        });
    }
    for (auto& worker : workers)
        worker.join();
    std::fprintf(stderr, "grew %lld kB, skipped %llu\n", statusKb("VmHWM:") - before,
        static_cast<unsigned long long>(Kubus::NetworkLogger::skippedLines()));
    std::fflush(stderr);
    Kubus::kuPrint("flood done", "void flood()");
    std::string rest;
    std::getline(std::cin, rest);
    // Like the program: the application object is never destroyed, the exit handlers stop the
    // log server.
    exitClock.start();
    std::exit(0);
}

} // namespace

int main(int argc, char** argv)
{
    const QByteArray mode = argc > 1 ? argv[1] : "";
    if (mode == "line" && argc == 4) {
        const QByteArray function = argv[3];
        Kubus::kuPrint(QString::fromUtf8(argv[2]), function == "@null" ? nullptr : argv[3]);
        return 0;
    }
    if (mode == "errorline" && argc == 3) {
        Kubus::kuErrorLine(QByteArray(argv[2]) == "1");
        return 0;
    }
    if (mode == "spaced" && argc == 4) {
        for (int i = 0, count = atoi(argv[2]); i < count; ++i) {
            if (i > 0)
                QThread::msleep(atoi(argv[3]));
            Kubus::kuPrint(QString("spaced %1").arg(i), "");
        }
        return 0;
    }
    if (mode == "port") {
        std::unique_ptr<QCoreApplication> app;
        if (argc < 3)
            app = std::make_unique<QCoreApplication>(argc, argv);
        std::printf("port %d\n", Kubus::NetworkLogger::port());
        return 0;
    }
    if (mode == "flood" && argc == 4)
        return flood(argc, argv);
    std::fprintf(stderr, "unknown arguments\n");
    return 2;
}
