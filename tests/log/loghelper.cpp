// Drives the logging layer from the command line for the log tests:
//   line TEXT FUNCTION        one kuPrint (FUNCTION "@null" passes a null pointer)
//   errorline 0|1             kuErrorLine
//   spaced COUNT MS           COUNT lines, MS milliseconds apart
//   port [noapp]              prints the log server's port (noapp: without an application object)
//   stress THREADS LINES WIDTH CLIENTS [FILE]
//       waits for CLIENTS log clients, then THREADS threads log LINES lines each, of WIDTH
//       characters of text; with FILE the lines go to that log file. The port goes to stderr.
#include "kubus/kulog.h"
#include "kubus/logfile.h"
#include "kubus/networklogger.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

int stress(int argc, char** argv)
{
    if (argc < 6)
        return 2;
    QCoreApplication app(argc, argv);
    const int threads = atoi(argv[2]);
    const int lines = atoi(argv[3]);
    const int width = atoi(argv[4]);
    const int clients = atoi(argv[5]);
    if (argc > 6)
        Kubus::LogFile::init(QString::fromLocal8Bit(argv[6]));

    std::fprintf(stderr, "port %d\n", Kubus::NetworkLogger::port());
    std::fflush(stderr);
    const QDeadlineTimer deadline(30000);
    while (Kubus::NetworkLogger::clientCount() < clients) {
        if (deadline.hasExpired())
            return 3;
        QThread::msleep(5);
    }

    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t, lines, width] {
            for (int n = 0; n < lines; ++n) {
                const QString text = QString("stress t%1 n%2 ").arg(t).arg(n);
                Kubus::kuPrint(text.leftJustified(width, QLatin1Char('x')), "void stressThread()");
            }
        });
    }
    for (auto& worker : workers)
        worker.join();
    return 0;
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
    if (mode == "stress")
        return stress(argc, argv);
    std::fprintf(stderr, "unknown arguments\n");
    return 2;
}
