#pragma once

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>

class QFile;
class QTimer;

namespace Kubus {

// The optional log file. When it is open, every log line goes there instead of standard output.
// One instance at most, created by init() in the calling thread (whose event loop drives the
// flush timer and asyncLog); it lives for the rest of the run and is flushed at exit.
class LogFile : public QObject {
    Q_OBJECT

public:
    // Opens path for writing (truncating it), creating missing folders. Only the first call
    // counts; a file that cannot be opened leaves the instance without a file.
    static void init(const QString& path);

    // Writes bytes now, in the calling thread. False without an open file or for empty bytes.
    static bool log(const QByteArray& bytes);

    // Writes bytes later, in the log file object's thread.
    static bool asyncLog(const QByteArray& bytes);

    // Flushes every ms milliseconds when ms > 0 and a file is open; else stops flushing.
    static void setAutoFlush(int ms);

public slots:
    bool syncLog(QByteArray bytes);
    void flush();

signals:
    void triggerLog(QByteArray bytes);

private:
    LogFile();

    static void flushAtExit();

    // kuPrint writes from any thread, asyncLog and the flush timer from the owner thread.
    QMutex m_fileMutex;
    QFile* m_file = nullptr;
    QTimer* m_flushTimer = nullptr;

    static std::atomic<LogFile*> s_instance;
};

} // namespace Kubus
