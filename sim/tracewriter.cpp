#include "sim/tracewriter.h"

#include "canbus/frame/canmessage.h"

namespace Sim {

bool TraceWriter::open(const QString& path, QString* error)
{
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        *error = QString("cannot write trace %1: %2").arg(path, m_file.errorString());
        return false;
    }
    return true;
}

QString TraceWriter::line(
    qint64 endUs, int bus, const CanBus::CanMessage& frame, bool fromController)
{
    return QString("(%1.%2) can%3 %4 %5\n")
        .arg(endUs / 1000000, 10, 10, QLatin1Char('0'))
        .arg(endUs % 1000000, 6, 10, QLatin1Char('0'))
        .arg(bus)
        .arg(frame.toFrameText())
        .arg(fromController ? QLatin1Char('T') : QLatin1Char('R'));
}

void TraceWriter::write(qint64 endUs, int bus, const CanBus::CanMessage& frame, bool fromController)
{
    if (m_file.isOpen())
        m_file.write(line(endUs, bus, frame, fromController).toLatin1());
}

void TraceWriter::flush()
{
    if (m_file.isOpen())
        m_file.flush();
}

} // namespace Sim
