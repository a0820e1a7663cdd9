#include "sim/rackdescription.h"

#include "canbus/frame/canmessagetype.h"
#include "sim/labellayout.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QStringList>

namespace Sim {

namespace {

struct LineError {
    QString message;
};

QString piece(const QString& text)
{
    return NodeFault::shortPiece(text);
}

// What a board can carry: node ids 0-254 leave 254 boards a bus beside the controller, flash
// sizes are those of the AT90 parts and FPGA configuration memories in use.
constexpr int maximumNodesPerBus = 254;
constexpr quint64 minimumAt90Size = 4 * 1024;
constexpr quint64 maximumAt90Size = 256 * 1024;
constexpr quint64 minimumFpgaSize = 64 * 1024;
constexpr quint64 maximumFpgaSize = 4 * 1024 * 1024;
constexpr int flashBlockSize = 256;

int flashSize(const char* key, const QString& value, quint64 minimum, quint64 maximum)
{
    bool ok = false;
    const quint64 n = value.toULongLong(&ok, 10);
    if (!ok || n < minimum || n > maximum || n % flashBlockSize != 0)
        throw LineError { QString("%1 \"%2\" is not a multiple of 256 from %3 to %4")
                              .arg(key, piece(value))
                              .arg(minimum)
                              .arg(maximum) };
    return int(n);
}

quint64 number(const QString& key, const QString& value, quint64 maximum)
{
    bool ok = false;
    const quint64 n = value.toULongLong(&ok, 10);
    if (!ok || n > maximum)
        throw LineError {
            QString("%1 \"%2\" is not a number from 0 to %3").arg(key, piece(value)).arg(maximum)
        };
    return n;
}

// "key=value key=value": a word without '=' or a repeated key is an error.
QHash<QString, QString> keyValues(const QStringList& words)
{
    QHash<QString, QString> result;
    for (const QString& word : words) {
        const int eq = word.indexOf(QLatin1Char('='));
        if (eq <= 0)
            throw LineError { QString("\"%1\" is not key=value").arg(piece(word)) };
        const QString key = word.left(eq);
        if (result.contains(key))
            throw LineError { QString("key \"%1\" given twice").arg(piece(key)) };
        result.insert(key, word.mid(eq + 1));
    }
    return result;
}

SimNode parseNode(SimNode::Kind kind, int bus, const QStringList& words)
{
    SimNode node;
    node.kind = kind;
    node.bus = bus;
    if (kind == SimNode::MainBoard && bus != 0)
        throw LineError { QString("a mainboard sits on can0, not can%1").arg(bus) };
    if (kind == SimNode::PowerAmplifier && bus != 1)
        throw LineError { QString("an amplifier sits on can1, not can%1").arg(bus) };

    QHash<QString, QString> values = keyValues(words);
    for (const char* required : { "part", "variant", "serial" }) {
        if (!values.contains(required))
            throw LineError { QString("%1 without %2").arg(node.kindName(), required) };
    }
    node.partNumber = quint32(number("part", values.take("part"), 0xFFFFFFFFu));
    node.variant = quint8(number("variant", values.take("variant"), 255));
    node.serial = quint32(number("serial", values.take("serial"), 0xFFFFFFFFu));
    if (values.contains("protocol"))
        node.protocolVersion = quint8(number("protocol", values.take("protocol"), 255));
    if (values.contains("nodeid"))
        node.initialNodeId = int(number("nodeid", values.take("nodeid"), 255));
    node.nodeId = node.initialNodeId;
    const int at90Size = values.contains("at90size")
        ? flashSize("at90size", values.take("at90size"), minimumAt90Size, maximumAt90Size)
        : SimNode::defaultAt90FlashSize;
    const int fpgaSize = values.contains("fpgasize")
        ? flashSize("fpgasize", values.take("fpgasize"), minimumFpgaSize, maximumFpgaSize)
        : SimNode::defaultFpgaFlashSize;
    node.at90Flash = QByteArray(at90Size, char(0xFF));
    node.fpgaFlash = QByteArray(fpgaSize, char(0xFF));
    if (values.contains("delay")) {
        NodeFault::Span span;
        const QString text = values.take("delay");
        if (!NodeFault::parseSpan(text, &span) || span.frames)
            throw LineError {
                QString("delay \"%1\" is not a time from 0 to 600s such as 100us").arg(piece(text))
            };
        node.processingDelayUs = span.value;
    }
    LabelLayout::fill(node);
    node.setAt90Version(values.take("at90"));
    node.setFpgaVersion(values.take("fpga"));

    // Rack and unit count from 1; the location message carries each in four bits. Amplifiers
    // without them sit in the unit of the first mainboard (filled in after the last line).
    for (auto [key, field] : { std::pair { "rack", &node.rack }, { "unit", &node.unit } }) {
        const QString text = values.take(key);
        if (kind == SimNode::PowerAmplifier && text.isEmpty())
            continue;
        bool ok = true;
        *field = text.isEmpty() ? 1 : text.toInt(&ok);
        if (!ok || *field < 1 || *field > 16)
            throw LineError {
                QString("%1 \"%2\" is not a number from 1 to 16").arg(key, piece(text))
            };
    }
    if (kind == SimNode::MainBoard) {
        node.equippedSlots = QVector<bool>(4, false);
        const QString slotList = values.take("slots");
        if (!slotList.isEmpty() && slotList != "none") {
            for (const QString& s : slotList.split(QLatin1Char(','))) {
                bool ok = false;
                const int slot = s.toInt(&ok);
                if (!ok || slot < 1 || slot > 4)
                    throw LineError {
                        QString("slot \"%1\" is not a number from 1 to 4").arg(piece(s))
                    };
                node.equippedSlots[slot - 1] = true;
            }
        }
    } else {
        const QString slot = values.take("slot");
        bool ok = false;
        node.slot = slot.toInt(&ok);
        if (!slot.isEmpty() && (!ok || node.slot < 1 || node.slot > 4))
            throw LineError { QString("slot \"%1\" is not a number from 1 to 4").arg(piece(slot)) };
    }
    node.initMessages();
    if (!values.isEmpty()) {
        QStringList unknown = values.keys();
        unknown.sort();
        throw LineError { QString("unknown key \"%1\" for %2 %3")
                              .arg(piece(unknown.first()), kind == SimNode::MainBoard ? "a" : "an",
                                  node.kindName()) };
    }
    return node;
}

// "label SELECTOR ADDRESS HEXBYTES" or "label SELECTOR ADDRESS "text"".
void parseLabel(SimNode& node, const QString& rest)
{
    static const QRegularExpression form("^(\\S+)\\s+(\\S+)\\s+(?:\"([^\"]*)\"|(\\S+))$");
    const QRegularExpressionMatch m = form.match(rest);
    if (!m.hasMatch())
        throw LineError { "label needs a selector, an address and hex bytes or \"text\"" };
    const int selector = int(number("selector", m.captured(1), 255));
    const int address = int(number("address", m.captured(2), 65535));
    QByteArray bytes;
    if (m.capturedStart(3) >= 0) {
        bytes = m.captured(3).toLatin1();
    } else {
        static const QRegularExpression hex("^([0-9A-Fa-f]{2})+$");
        if (!hex.match(m.captured(4)).hasMatch())
            throw LineError {
                QString("label bytes \"%1\" are not hex pairs").arg(piece(m.captured(4)))
            };
        bytes = QByteArray::fromHex(m.captured(4).toLatin1());
    }
    node.writeLabel(selector, address, bytes);
}

// "field SELECTOR NAME VALUE" or "field SELECTOR NAME "text"".
void parseField(SimNode& node, const QString& rest)
{
    static const QRegularExpression form("^(\\S+)\\s+(\\S+)\\s+(?:\"([^\"]*)\"|(\\S+))$");
    const QRegularExpressionMatch m = form.match(rest);
    if (!m.hasMatch())
        throw LineError { "field needs a selector, a field name and a value" };
    const int selector = int(number("selector", m.captured(1), 255));
    if (!LabelLayout::selectors(node.kind == SimNode::MainBoard).contains(selector))
        throw LineError { QString("%1 has no label %2").arg(node.kindName()).arg(selector) };
    const LabelLayout::Field* field = LabelLayout::field(selector, m.captured(2));
    if (!field)
        throw LineError {
            QString("label %1 has no field \"%2\"").arg(selector).arg(piece(m.captured(2)))
        };
    QByteArray bytes;
    QString error;
    const QString value = m.capturedStart(3) >= 0 ? m.captured(3) : m.captured(4);
    if (!LabelLayout::encode(*field, value, &bytes, &error))
        throw LineError { error };
    node.writeLabel(selector, field->address, bytes);
}

// "message NAME ITEM..." with ITEM hex pairs or bcd:NUMBER (one 16-bit measured value).
void parseMessage(SimNode& node, const QStringList& words)
{
    CanBus::eCanMessageType type;
    if (words.size() < 2 || !CanBus::canMessageTypeFromName(words.at(0), &type)
        || !node.sendsMessage(type))
        throw LineError {
            QString("this %1 sends no message \"%2\"").arg(node.kindName(), piece(words.value(0)))
        };
    static const QRegularExpression hex("^([0-9A-Fa-f]{2})+$");
    QByteArray bytes;
    for (const QString& item : words.mid(1)) {
        bool ok = false;
        if (item.startsWith("bcd:")) {
            const double v = item.mid(4).toDouble(&ok);
            QByteArray word(2, '\0');
            const quint16 bcd = LabelLayout::bcdWord(v);
            word[0] = char(bcd & 0xFF);
            word[1] = char(bcd >> 8);
            bytes += word;
        } else if (hex.match(item).hasMatch()) {
            ok = true;
            bytes += QByteArray::fromHex(item.toLatin1());
        }
        if (!ok)
            throw LineError {
                QString("\"%1\" is neither hex pairs nor bcd:NUMBER").arg(piece(item))
            };
    }
    if (bytes.size() > 8)
        throw LineError { QString("message %1 holds at most 8 bytes").arg(words.at(0)) };
    node.messages[type] = bytes;
}

} // namespace

RackDescription RackDescription::parse(const QString& text)
{
    RackDescription rack;
    int bus = -1;
    const QStringList lines = text.split(QLatin1Char('\n'));
    QHash<QString, int> serialLines;
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines.at(i);
        // A '#' inside a quoted label text is part of the text.
        bool quoted = false;
        for (int at = 0; at < line.size(); ++at) {
            if (line.at(at) == QLatin1Char('"'))
                quoted = !quoted;
            else if (line.at(at) == QLatin1Char('#') && !quoted) {
                line.truncate(at);
                break;
            }
        }
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const QStringList words = line.split(QRegularExpression("\\s+"));
        const QString keyword = words.first();
        try {
            if (keyword == "bus") {
                if (words.size() != 2 || (words.at(1) != "can0" && words.at(1) != "can1"))
                    throw LineError { "bus needs can0 or can1" };
                bus = words.at(1) == "can0" ? 0 : 1;
            } else if (keyword == "mainboard" || keyword == "amplifier") {
                if (bus < 0)
                    throw LineError { QString("%1 before any bus line").arg(keyword) };
                int onBus = 0;
                for (const SimNode& other : rack.nodes)
                    onBus += other.bus == bus ? 1 : 0;
                if (onBus >= maximumNodesPerBus)
                    throw LineError { QString(
                        "can%1 already has %2 boards, the most a bus can hold")
                                          .arg(bus)
                                          .arg(maximumNodesPerBus) };
                const SimNode node = parseNode(
                    keyword == "mainboard" ? SimNode::MainBoard : SimNode::PowerAmplifier, bus,
                    words.mid(1));
                const QString key = node.name();
                if (serialLines.contains(key))
                    throw LineError { QString("serial %1 is already on can%2 (line %3)")
                                          .arg(node.serial)
                                          .arg(bus)
                                          .arg(serialLines.value(key)) };
                serialLines.insert(key, i + 1);
                rack.nodes.append(node);
            } else if (keyword == "label") {
                if (rack.nodes.isEmpty())
                    throw LineError { "label before any node" };
                parseLabel(rack.nodes.last(), line.mid(keyword.size()).trimmed());
            } else if (keyword == "field" || keyword == "message") {
                if (rack.nodes.isEmpty())
                    throw LineError { QString("%1 before any node").arg(keyword) };
                if (keyword == "field")
                    parseField(rack.nodes.last(), line.mid(keyword.size()).trimmed());
                else
                    parseMessage(rack.nodes.last(), words.mid(1));
            } else if (keyword == "fault") {
                NodeFault fault;
                QString error;
                if (words.size() != 2 || !NodeFault::parse(words.at(1), &fault, &error))
                    throw LineError { words.size() != 2 ? "fault needs one SPEC without blanks"
                                                        : error };
                rack.faults.append(fault);
                rack.faultLines.append(i + 1);
            } else {
                throw LineError { QString("unknown keyword \"%1\"").arg(piece(keyword)) };
            }
        } catch (const LineError& e) {
            rack.m_errorLine = i + 1;
            rack.m_errorMessage = e.message;
            return rack;
        }
    }
    // Amplifiers without rack and unit sit in the unit of the first mainboard.
    for (const SimNode& board : rack.nodes) {
        if (board.kind != SimNode::MainBoard)
            continue;
        for (SimNode& node : rack.nodes) {
            if (node.kind == SimNode::PowerAmplifier && node.rack == 0 && node.unit == 0) {
                node.rack = board.rack;
                node.unit = board.unit;
            }
        }
        break;
    }
    for (int i = 0; i < rack.faults.size(); ++i) {
        QString error;
        if (!applyFault(rack.nodes, rack.faults.at(i), &error)) {
            rack.m_errorLine = rack.faultLines.at(i);
            rack.m_errorMessage = error;
            return rack;
        }
    }
    return rack;
}

bool RackDescription::applyFault(QVector<SimNode>& nodes, const NodeFault& fault, QString* error)
{
    bool applied = false;
    for (SimNode& node : nodes) {
        if (node.bus == fault.bus && (fault.serial < 0 || node.serial == fault.serial)) {
            if (fault.kind == NodeFault::Send && !node.sendsMessage(unsigned(fault.messageType))) {
                *error = QString("%1 does not send %2")
                             .arg(node.name(),
                                 CanBus::canMessageTypeName(unsigned(fault.messageType)));
                return false;
            }
            node.addFault(fault);
            applied = true;
        }
    }
    if (!applied && fault.serial >= 0) {
        *error = QString("fault names serial %1, which is not on can%2")
                     .arg(fault.serial)
                     .arg(fault.bus);
        return false;
    }
    return true;
}

RackDescription RackDescription::fromFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        RackDescription rack;
        rack.m_errorMessage = QString("cannot read rack file %1: %2").arg(path, file.errorString());
        return rack;
    }
    return parse(QString::fromUtf8(file.readAll()));
}

QString RackDescription::errorText() const
{
    if (m_errorLine > 0)
        return QString("line %1: %2").arg(m_errorLine).arg(m_errorMessage);
    return m_errorMessage;
}

QString RackDescription::defaultRackText()
{
    return "bus can0\n"
           "mainboard part=91204500 variant=1 serial=1001 rack=1 unit=1 slots=1,2,3,4 "
           "at90=1.13.1 fpga=1.13.1\n"
           "bus can1\n"
           "amplifier part=91204700 variant=1 serial=2001 slot=1 at90=1.13.1 fpga=1.13.1\n"
           "amplifier part=91204700 variant=1 serial=2002 slot=2 at90=1.13.1 fpga=1.13.1\n"
           "amplifier part=91204700 variant=1 serial=2003 slot=3 at90=1.13.1 fpga=1.13.1\n"
           "amplifier part=91204700 variant=1 serial=2004 slot=4 at90=1.13.1 fpga=1.13.1\n";
}

RackDescription RackDescription::defaultRack()
{
    return parse(defaultRackText());
}

} // namespace Sim
