#include "app/zef400widget.h"

#include "kubus/log/kulog.h"
#include "platform/rootpath.h"

#include <QCoreApplication>
#include <QDebug>

#include <algorithm>
#include <cstdlib>

namespace {
QString describe(bool all)
{
    return all ? QStringLiteral("true") : QStringLiteral("false");
}

// Sorted, so that the log line does not depend on the set's hash order.
QString describe(const QSet<int>& nodeIds)
{
    QList<int> sorted = nodeIds.values();
    std::sort(sorted.begin(), sorted.end());
    QStringList texts;
    for (int id : sorted)
        texts << QString::number(id);
    return QLatin1Char('{') + texts.join(QLatin1String(", ")) + QLatin1Char('}');
}

void logSetter(const char* name, const QString& value, const char* function)
{
    Kubus::kuPrint(QStringLiteral("%1(%2)").arg(QLatin1String(name), value), function);
}
} // namespace

Zef400Widget::Zef400Widget(QWidget* parent)
    : QWidget(parent)
{
    quitTimer.setInterval(1);
    connect(&quitTimer, &QTimer::timeout, this, [] {
        QMetaObject::invokeMethod(QCoreApplication::instance(), "quit", Qt::QueuedConnection);
    });
    QTimer::singleShot(1, this, &Zef400Widget::startUpdater);
}

Zef400Widget::~Zef400Widget()
{
    stop();
}

void Zef400Widget::setReadOnly(bool readOnly)
{
    qDebug().noquote() << "Read only mode";
    logSetter("setReadOnly", describe(readOnly), Q_FUNC_INFO);
}

void Zef400Widget::setForceMainboardUpdate(bool all)
{
    logSetter("setForceMainboardUpdate", describe(all), Q_FUNC_INFO);
}

void Zef400Widget::setForceMainboardUpdate(const QSet<int>& nodeIds)
{
    logSetter("setForceMainboardUpdate", describe(nodeIds), Q_FUNC_INFO);
}

void Zef400Widget::setForceMainboardUpdateAT90(bool all)
{
    logSetter("setForceMainboardUpdateAT90", describe(all), Q_FUNC_INFO);
}

void Zef400Widget::setForceMainboardUpdateAT90(const QSet<int>& nodeIds)
{
    logSetter("setForceMainboardUpdateAT90", describe(nodeIds), Q_FUNC_INFO);
}

void Zef400Widget::setForceMainboardUpdateFPGA(bool all)
{
    logSetter("setForceMainboardUpdateFPGA", describe(all), Q_FUNC_INFO);
}

void Zef400Widget::setForceMainboardUpdateFPGA(const QSet<int>& nodeIds)
{
    logSetter("setForceMainboardUpdateFPGA", describe(nodeIds), Q_FUNC_INFO);
}

void Zef400Widget::setForceAmplifierUpdate(bool all)
{
    logSetter("setForceAmplifierUpdate", describe(all), Q_FUNC_INFO);
}

void Zef400Widget::setForceAmplifierUpdate(const QSet<int>& nodeIds)
{
    logSetter("setForceAmplifierUpdate", describe(nodeIds), Q_FUNC_INFO);
}

void Zef400Widget::setForceAmplifierUpdateAT90(bool all)
{
    logSetter("setForceAmplifierUpdateAT90", describe(all), Q_FUNC_INFO);
}

void Zef400Widget::setForceAmplifierUpdateAT90(const QSet<int>& nodeIds)
{
    logSetter("setForceAmplifierUpdateAT90", describe(nodeIds), Q_FUNC_INFO);
}

void Zef400Widget::setForceAmplifierUpdateFPGA(bool all)
{
    logSetter("setForceAmplifierUpdateFPGA", describe(all), Q_FUNC_INFO);
}

void Zef400Widget::setForceAmplifierUpdateFPGA(const QSet<int>& nodeIds)
{
    logSetter("setForceAmplifierUpdateFPGA", describe(nodeIds), Q_FUNC_INFO);
}

void Zef400Widget::reboot()
{
    const QByteArray command = Platform::rootPathBytes(QStringLiteral("reboot"));
    if (std::system(command.constData()) != 0)
        Kubus::kuPrint(
            QStringLiteral("Reboot command failed: %1").arg(QString::fromLocal8Bit(command)),
            Q_FUNC_INFO);
}

void Zef400Widget::quit()
{
    quitTimer.start();
}

void Zef400Widget::stop() { }

void Zef400Widget::startUpdater()
{
    // Nothing to update without an orchestrator: the run ends at once.
    quit();
}
