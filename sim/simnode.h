#pragma once

#include "sim/firmwarestate.h"
#include "sim/nodefault.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVector>

namespace Sim {

// The model of one board as the simulator plays it: what identifies it on the bus, what it
// stores (two flash memories and its label memory) and where it sits. Each behaviour (identify,
// service data, firmware access, ...) reads and changes only this model, so a behaviour can be
// added without touching the others and the state dump shows everything a test may check.
class SimNode {
public:
    enum Kind { MainBoard, PowerAmplifier };

    // A message the node sends on its own every period (a "send" fault), and what came of it.
    struct SpontaneousSource {
        unsigned type = 0;
        qint64 periodUs = 0;
        bool ackRequest = false;
        int count = -1; // frames to send; -1: no limit
        qint64 nextUs = 0; // wall clock of the next frame
        qint64 sent = 0;
    };

    // A fault of the rack or command line with what it has used up so far.
    struct ActiveFault {
        NodeFault fault;
        int used = 0;
        quint32 random = 1;
        qint64 vanishedAtUs = -1; // wall clock when a vanish fault took the node away
        qint64 vanishedAtFrames = 0;
    };

    static constexpr int defaultProtocolVersion = 31; // both firmwares valid
    static constexpr int defaultAt90FlashSize = 128 * 1024;
    static constexpr int defaultFpgaFlashSize = 1024 * 1024;
    static constexpr qint64 defaultProcessingDelayUs = 100;
    static constexpr int noNodeId = 255;
    // Label addresses of the two version texts, 10 characters each.
    static constexpr int at90VersionAddress = 126;
    static constexpr int fpgaVersionAddress = 136;
    static constexpr int versionLength = 10;
    static constexpr int labelAreaSize = 256;

    QString kindName() const { return kind == MainBoard ? "mainboard" : "amplifier"; }
    // Destination class in the identifier: 0 mainboard, 6 power amplifier.
    int destinationClass() const { return kind == MainBoard ? 0 : 6; }
    // The label that carries part number, serial number and the firmware versions.
    int boardLabelSelector() const { return kind == MainBoard ? 48 : 0; }
    QString name() const { return QString("can%1/%2").arg(bus).arg(serial); }

    // Bytes of a flash up to the last one that is not erased (0xFF).
    static int usedFlashLength(const QByteArray& flash);

    QByteArray labelBytes(int selector, int address, int length) const;
    void writeLabel(int selector, int address, const QByteArray& bytes);
    QString labelText(int selector, int address, int length) const;

    QString at90Version() const;
    QString fpgaVersion() const;
    void setAt90Version(const QString& version);
    void setFpgaVersion(const QString& version);
    // Part number, variant and serial number into the board label, as a real board carries them.
    void writeIdentityLabel();

    void addFault(const NodeFault& fault);

    // The test-point (mainboard) or status (amplifier) messages the board sends: TP_* or AMP_*.
    bool sendsMessage(unsigned type) const;
    // Every message of the board at its default length, position and equipment filled in.
    void initMessages();
    // The frame of message type with the node's current values.
    QByteArray message(unsigned type) const { return messages.value(type); }

    // What the rack describes.
    Kind kind = MainBoard;
    int bus = 0;
    quint32 partNumber = 0;
    quint8 variant = 0;
    quint32 serial = 0;
    quint8 protocolVersion = defaultProtocolVersion;
    int initialNodeId = noNodeId;
    QByteArray at90Flash;
    QByteArray fpgaFlash;
    QMap<int, QByteArray> labels; // label memory per service-data selector
    int rack = 0; // mainboards; amplifiers: the unit they are plugged into
    int unit = 0;
    QVector<bool> equippedSlots; // mainboards: amplifier slots 1..4 at index 0..3
    int slot = 0; // amplifiers
    qint64 processingDelayUs = defaultProcessingDelayUs;
    QVector<ActiveFault> faults;
    QVector<SpontaneousSource> spontaneous;
    // Current payload of each message the board sends; polls send it, settings change it.
    QMap<unsigned, QByteArray> messages;

    // What changes while the simulator runs.
    int nodeId = noNodeId;
    bool present = true;
    qint64 framesHeard = 0;
    qint64 framesAnswered = 0;
    qint64 framesLost = 0; // by a drop, silent or vanish fault
    FirmwareState firmware; // firmware access, restart and position search
    qint64 framesRejected = 0; // answered with A_ERROR_ACK by the node itself
    qint64 heardAtUs = 0; // wall clock of the frame being handled (microseconds since start)
    qint64 serviceDataReads = 0;
    qint64 serviceDataWrites = 0;
    QString lastServiceDataWrite; // "SELECTOR/BYTEADDRESS/HEX"
    qint64 pollsAnswered = 0;
    qint64 settingsApplied = 0;
    qint64 commandsReceived = 0;
    QString lastCommand; // "SUBUNIT/COMMAND"
    qint64 messageAcksReceived = 0; // SCM_MSG_ACK of the controller for frames that asked for one
    qint64 unacknowledged = 0; // frames sent with the acknowledge-request bit, not yet acknowledged
    // Set while firmware access is open: settings and label writes do not fit then.
    bool firmwareAccess = false;
};

} // namespace Sim
