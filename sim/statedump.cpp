#include "sim/statedump.h"

#include "canbus/frame/canmessagetype.h"
#include "sim/firmwarebehaviour.h"
#include "sim/noderesponder.h"
#include "sim/simbus.h"
#include "sim/simnode.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <QTextStream>

namespace Sim {

namespace {

bool writeFlash(const QString& path, const QByteArray& flash, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QString("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    file.write(flash.left(SimNode::usedFlashLength(flash)));
    if (!file.commit()) {
        *error = QString("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

QString StateDump::groupName(int bus, quint32 serial)
{
    return QString("can%1_%2").arg(bus).arg(serial);
}

QString StateDump::flashFileName(
    const QString& dumpPath, int bus, quint32 serial, const QString& which)
{
    return QString("%1.%2.%3.bin").arg(dumpPath, groupName(bus, serial), which);
}

bool StateDump::write(
    const QString& path, const QList<SimBus*>& buses, qint64 wallUs, QString* error)
{
    QString text;
    QTextStream out(&text);
    out << "[simulator]\n";
    out << "time_us=" << wallUs << "\n";
    for (SimBus* bus : buses) {
        out << bus->name() << "_frames=" << bus->framesOnBus() << "\n";
        out << bus->name() << "_most_frames_waiting=" << bus->mostFramesWaiting() << "\n";
        const SimBus::Lateness late = bus->lateness();
        if (late.frames > 0)
            out << bus->name() << "_lateness_us=\"" << late.medianUs << "," << late.p99Us << ","
                << late.maximumUs << "\"\n";
    }

    for (SimBus* bus : buses) {
        for (SimNode& node : bus->nodes()) {
            NodeResponder::updatePresence(node, wallUs);
            out << "\n[" << groupName(node.bus, node.serial) << "]\n";
            out << "kind=" << node.kindName() << "\n";
            out << "part=" << node.partNumber << "\n";
            out << "variant=" << int(node.variant) << "\n";
            out << "serial=" << node.serial << "\n";
            out << "protocol=" << int(node.protocolVersion) << "\n";
            out << "nodeid=" << node.nodeId << "\n";
            out << "present=" << (node.present ? "true" : "false") << "\n";
            out << "at90_version=" << node.at90Version() << "\n";
            out << "fpga_version=" << node.fpgaVersion() << "\n";
            if (node.kind == SimNode::MainBoard) {
                out << "rack=" << node.rack << "\n";
                out << "unit=" << node.unit << "\n";
                QStringList slotList;
                for (int i = 0; i < node.equippedSlots.size(); ++i) {
                    if (node.equippedSlots.at(i))
                        slotList << QString::number(i + 1);
                }
                out << "slots=\"" << slotList.join(",") << "\"\n";
            } else {
                out << "rack=" << node.rack << "\n";
                out << "unit=" << node.unit << "\n";
                out << "slot=" << node.slot << "\n";
            }
            FirmwareBehaviour::dump(node, out);
            out << "frames_heard=" << node.framesHeard << "\n";
            out << "frames_answered=" << node.framesAnswered << "\n";
            out << "frames_lost=" << node.framesLost << "\n";
            out << "frames_rejected=" << node.framesRejected << "\n";
            out << "service_data_reads=" << node.serviceDataReads << "\n";
            out << "service_data_writes=" << node.serviceDataWrites << "\n";
            out << "last_service_data_write=" << node.lastServiceDataWrite << "\n";
            out << "polls_answered=" << node.pollsAnswered << "\n";
            out << "settings_applied=" << node.settingsApplied << "\n";
            out << "commands_received=" << node.commandsReceived << "\n";
            out << "last_command=" << node.lastCommand << "\n";
            qint64 spontaneousSent = 0;
            for (const SimNode::SpontaneousSource& source : node.spontaneous)
                spontaneousSent += source.sent;
            out << "spontaneous_sent=" << spontaneousSent << "\n";
            out << "message_acks_received=" << node.messageAcksReceived << "\n";
            out << "unacknowledged=" << node.unacknowledged << "\n";
            for (auto it = node.messages.cbegin(); it != node.messages.cend(); ++it)
                out << "message_" << CanBus::canMessageTypeName(it.key()) << "="
                    << it.value().toHex().toUpper() << "\n";
            const struct {
                const char* which;
                const QByteArray& flash;
            } flashes[] = { { "at90", node.at90Flash }, { "fpga", node.fpgaFlash } };
            for (const auto& f : flashes) {
                const QString file = flashFileName(path, node.bus, node.serial, f.which);
                out << f.which << "_flash_size=" << f.flash.size() << "\n";
                out << f.which << "_flash_used=" << SimNode::usedFlashLength(f.flash) << "\n";
                out << f.which << "_flash_file=" << file << "\n";
                if (!writeFlash(file, f.flash, error))
                    return false;
            }
            for (auto it = node.labels.cbegin(); it != node.labels.cend(); ++it)
                out << "label_" << it.key() << "=" << it.value().toHex().toUpper() << "\n";
        }
    }
    out.flush();

    // Written aside and renamed, so a reader never sees half a dump.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        *error = QString("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    file.write(text.toUtf8());
    if (!file.commit()) {
        *error = QString("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace Sim
