#pragma once

#include <QFile>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

// Collects what the program writes to standard output (where its log lines go) between start and
// stop, from every thread.
class LogCapture {
public:
    LogCapture()
    {
        char name[] = "/tmp/zef400-logcapture-XXXXXX";
        std::fflush(stdout);
        fd = mkstemp(name);
        path = QString::fromLatin1(name);
        saved = dup(STDOUT_FILENO);
        dup2(fd, STDOUT_FILENO);
    }
    ~LogCapture()
    {
        stop();
        ::close(fd);
        QFile::remove(path);
    }

    QString stop()
    {
        if (saved < 0)
            return text;
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        ::close(saved);
        saved = -1;
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            text = QString::fromLatin1(file.readAll());
        // Still show it: a failing test is read from its output.
        std::fputs(text.toLatin1().constData(), stdout);
        return text;
    }

private:
    int fd = -1;
    int saved = -1;
    QString path;
    QString text;
};
