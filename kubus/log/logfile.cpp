#include "kubus/log/logfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QTimer>

#include <cstdlib>

namespace Kubus {

std::atomic<LogFile*> LogFile::s_instance { nullptr };

namespace {
QMutex& initMutex()
{
    static QMutex mutex;
    return mutex;
}
} // namespace

LogFile::LogFile()
    : m_flushTimer(new QTimer(this))
{
    m_flushTimer->setSingleShot(false);
    connect(m_flushTimer, &QTimer::timeout, this, &LogFile::flush);
    connect(this, &LogFile::triggerLog, this, &LogFile::syncLog, Qt::QueuedConnection);
}

void LogFile::init(const QString& path)
{
    QMutexLocker lock(&initMutex());
    if (s_instance.load())
        return;
    auto* logFile = new LogFile;
    auto* file = new QFile(path);
    QDir().mkpath(QFileInfo(path).absoluteDir().absolutePath());
    if (file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        logFile->m_file = file;
    else
        delete file;
    s_instance.store(logFile);
    // The file is buffered and never closed while the program runs; the tail must not be lost.
    std::atexit(&LogFile::flushAtExit);
}

bool LogFile::log(const QByteArray& bytes)
{
    LogFile* logFile = s_instance.load();
    return logFile && logFile->syncLog(bytes);
}

bool LogFile::asyncLog(const QByteArray& bytes)
{
    LogFile* logFile = s_instance.load();
    if (!logFile || bytes.isEmpty())
        return false;
    {
        QMutexLocker lock(&logFile->m_fileMutex);
        if (!logFile->m_file)
            return false;
    }
    emit logFile->triggerLog(bytes);
    return true;
}

void LogFile::setAutoFlush(int ms)
{
    LogFile* logFile = s_instance.load();
    if (!logFile)
        return;
    // A timer may only be started or stopped in its own thread.
    QMetaObject::invokeMethod(logFile, [logFile, ms] {
        bool haveFile;
        {
            QMutexLocker lock(&logFile->m_fileMutex);
            haveFile = logFile->m_file != nullptr;
        }
        if (haveFile && ms > 0) {
            logFile->m_flushTimer->setInterval(ms);
            logFile->m_flushTimer->start();
        } else {
            logFile->m_flushTimer->stop();
        }
    });
}

bool LogFile::syncLog(QByteArray bytes)
{
    QMutexLocker lock(&m_fileMutex);
    if (!m_file || bytes.isEmpty())
        return false;
    m_file->write(bytes);
    return true;
}

void LogFile::flush()
{
    QMutexLocker lock(&m_fileMutex);
    if (m_file)
        m_file->flush();
}

void LogFile::flushAtExit()
{
    if (LogFile* logFile = s_instance.load())
        logFile->flush();
}

} // namespace Kubus
