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

    // What changes while the simulator runs.
    int nodeId = noNodeId;
    bool present = true;
    qint64 framesHeard = 0;
    qint64 framesAnswered = 0;
    qint64 framesLost = 0; // by a drop, silent or vanish fault
    FirmwareState firmware; // firmware access, restart and position search
};

} // namespace Sim
