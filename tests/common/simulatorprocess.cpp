#include "common/simulatorprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSettings>

#include <csignal>
#include <sys/stat.h>

namespace {

bool isSocket(const QString& path)
{
    struct stat info { };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISSOCK(info.st_mode);
}

} // namespace

SimulatorProcess::SimulatorProcess(const QString& root)
{
    if (root.isEmpty()) {
        // Socket paths must stay short, so the root goes under the system temporary folder.
        m_tempDir = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/zefsim-XXXXXX");
        m_root = m_tempDir->path();
    } else {
        m_root = root;
    }
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

SimulatorProcess::~SimulatorProcess()
{
    if (isRunning())
        stop();
}

QString SimulatorProcess::binary()
{
    const QString dir = qEnvironmentVariableIsEmpty("ZEF_BIN_DIR")
        ? QString::fromLatin1(ZEF_BIN_DIR)
        : qEnvironmentVariable("ZEF_BIN_DIR");
    return dir + "/zef400-sim";
}

QString SimulatorProcess::socketPath(int bus) const
{
    return QString("%1/dev/can%2").arg(m_root).arg(bus);
}

bool SimulatorProcess::start(const QStringList& args, int timeoutMs)
{
    QStringList all = args;
    if (!all.contains("--trace"))
        all << "--trace" << tracePath();
    if (!all.contains("--dump"))
        all << "--dump" << dumpPath();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZEF400_ROOT", m_root);
    m_process.setProcessEnvironment(env);
    m_output.clear();
    m_process.start(binary(), all);
    if (!m_process.waitForStarted(timeoutMs))
        return false;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (isSocket(socketPath(0)) && isSocket(socketPath(1))
            && output().contains("Simulator running"))
            return true;
        if (m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(20);
    }
    return false;
}

bool SimulatorProcess::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

int SimulatorProcess::stop(int timeoutMs)
{
    if (isRunning()) {
        m_process.terminate();
        if (!m_process.waitForFinished(timeoutMs)) {
            m_process.kill();
            m_process.waitForFinished(timeoutMs);
            output();
            return -1;
        }
    }
    output();
    if (m_process.exitStatus() != QProcess::NormalExit)
        return -1;
    return m_process.exitCode();
}

QString SimulatorProcess::output()
{
    m_output += m_process.readAll();
    return QString::fromLocal8Bit(m_output);
}

bool SimulatorProcess::waitForOutput(const QString& text, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!output().contains(text)) {
        if (deadline.hasExpired() || !isRunning())
            return output().contains(text);
        QCoreApplication::processEvents();
        m_process.waitForReadyRead(20);
    }
    return true;
}

bool SimulatorProcess::waitForConfigured(int bus, int connection, int timeoutMs)
{
    return waitForOutput(
        QString("can%1 connection %2: configured for 125 kbit/s").arg(bus).arg(connection),
        timeoutMs);
}

QStringList SimulatorProcess::traceLines() const
{
    QFile file(tracePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringList();
    return QString::fromLatin1(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

bool SimulatorProcess::requestDump(int timeoutMs)
{
    QFile::remove(dumpPath());
    if (!isRunning())
        return false;
    ::kill(pid_t(m_process.processId()), SIGUSR1);
    QDeadlineTimer deadline(timeoutMs);
    while (!QFile::exists(dumpPath())) {
        if (deadline.hasExpired())
            return false;
        m_process.waitForReadyRead(20);
    }
    return true;
}

QVariant SimulatorProcess::dumpValue(const QString& node, const QString& key) const
{
    QSettings dump(dumpPath(), QSettings::IniFormat);
    return dump.value(node + "/" + key);
}

QByteArray SimulatorProcess::flash(const QString& node, const QString& which) const
{
    QFile file(dumpValue(node, which + "_flash_file").toString());
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const int size = dumpValue(node, which + "_flash_size").toInt();
    QByteArray bytes = file.readAll();
    // The dump leaves out the erased tail.
    bytes.append(QByteArray(qMax(0, size - bytes.size()), char(0xFF)));
    return bytes;
}

QByteArray SimulatorProcess::label(const QString& node, int selector) const
{
    return QByteArray::fromHex(dumpValue(node, QString("label_%1").arg(selector)).toByteArray());
}
