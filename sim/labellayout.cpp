#include "sim/labellayout.h"

#include "sim/simnode.h"

#include <QDate>
#include <QtEndian>

#include <cmath>
#include <cstring>

namespace Sim {

namespace {

// Mainboard selectors: board label, pre-amplifiers 1-4, input switch, power meters 1-4, and
// the amplitude-frequency tables of the four paths, each with its flag set and clear.
const int mainBoardSelectors[]
    = { 48, 64, 80, 96, 112, 128, 144, 160, 176, 192, 145, 161, 177, 193, 147, 163, 179, 195 };
const int amplifierSelectors[] = { 0, 1, 2 };

QByteArray littleEndian(quint64 value, int length)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xFF);
    return bytes;
}

// n as 2 * length BCD digits, most significant nibble in the top byte (little-endian word).
QByteArray bcdDigits(const QString& digits, int length, bool* ok)
{
    *ok = !digits.isEmpty() && digits.size() <= 2 * length;
    quint64 packed = 0;
    for (const QChar c : digits) {
        if (!c.isDigit()) {
            *ok = false;
            break;
        }
        packed = (packed << 4) | quint64(c.digitValue());
    }
    return littleEndian(packed, length);
}

void put(SimNode& node, int selector, const char* name, const QString& value)
{
    const LabelLayout::Field* f = LabelLayout::field(selector, name);
    QByteArray bytes;
    QString error;
    if (f && LabelLayout::encode(*f, value, &bytes, &error))
        node.writeLabel(selector, f->address, bytes);
}

void fillIdentity(SimNode& node, int selector, const QString& name, bool bcd, int index)
{
    if (bcd) {
        // A BCD label: part numbers of this kind begin with the marker digits 53.
        put(node, selector, "PartNumber",
            QString("bcd:5310%1%2").arg(selector, 3, 10, QChar('0')).arg(index));
        put(node, selector, "Variant", "bcd:01");
        put(node, selector, "Serial", QString("bcd:%1").arg(node.serial % 10000000 * 10 + index));
        put(node, selector, "ProductIndex", "bcd:0100");
    } else {
        put(node, selector, "PartNumber", QString::number(node.partNumber));
        put(node, selector, "Variant", QString::number(node.variant));
        put(node, selector, "Serial", QString::number(node.serial));
        put(node, selector, "ProductIndex", "1");
    }
    put(node, selector, "ProductionDate", "2024-03-15");
    put(node, selector, "Name", name);
}

void fillTable(SimNode& node, int selector)
{
    QByteArray area(LabelLayout::tableSize, '\0');
    // Flag set and flag clear tables differ, so a test sees which one was read.
    const int path = (selector >> 4) - 9;
    const bool flagSet = (selector & 0x0F) == 1;
    quint16 sum = 0;
    for (int i = 0; i < 8 * 128; ++i) {
        const quint16 value = quint16(1000 + path * 100 + (flagSet ? 0 : 50) + (i * 7) % 97);
        qToLittleEndian<quint16>(value, area.data() + 256 + 2 * i);
        sum = quint16(sum + value);
    }
    node.writeLabel(selector, 0, area);
    put(node, selector, "BlockId", QString::number(0x4100 + selector));
    put(node, selector, "CheckSum", QString::number(sum));
    put(node, selector, "FrqStart", "float:80");
    put(node, selector, "StepSize", "float:2.5");
    put(node, selector, "StepCount", "128");
    put(node, selector, "DbStart", "0");
    put(node, selector, "DbStep", "1");
    put(node, selector, "DbCount", "8");
    put(node, selector, "DbOutputFactor", "100");
}

} // namespace

const QVector<LabelLayout::Field>& LabelLayout::labelFields()
{
    static const QVector<Field> fields {
        { "Encoding", 15, 1, Encoding },
        { "PartNumber", 12, 4, Number },
        { "ProductIndex", 18, 2, Number },
        { "Variant", 16, 1, Number },
        { "Serial", 20, 4, Number },
        { "ProductionDate", 24, 2, Date },
        { "Name", 30, 10, Text },
        { "HardwareCode", 17, 1, Number },
        { "ReadCode", 26, 2, Number },
        { "Check", 28, 2, Number },
        { "Hours", 98, 2, Number },
        { "OnCount", 100, 2, Number },
        { "SwBundleNumber", 112, 4, Number },
        { "SwBundleVersion", 116, 8, Text },
        { "SoftwareVersion", 126, 10, Text },
        { "FirmwareVersion", 136, 10, Text },
    };
    return fields;
}

const QVector<LabelLayout::Field>& LabelLayout::tableFields()
{
    static const QVector<Field> fields {
        { "BlockId", 0, 2, Number },
        { "CheckSum", 4, 2, Number },
        { "FrqStart", 16, 4, Number },
        { "StepSize", 20, 4, Number },
        { "StepCount", 24, 2, Number },
        { "DbStart", 26, 1, Number },
        { "DbStep", 28, 1, Number },
        { "DbCount", 30, 1, Number },
        { "DbOutputFactor", 32, 2, Number },
    };
    return fields;
}

const LabelLayout::Field* LabelLayout::field(int selector, const QString& name)
{
    for (const Field& f : isTableSelector(selector) ? tableFields() : labelFields()) {
        if (name == QLatin1String(f.name))
            return &f;
    }
    return nullptr;
}

QVector<int> LabelLayout::selectors(bool mainBoard)
{
    QVector<int> result;
    if (mainBoard)
        result.append(QVector<int>(std::begin(mainBoardSelectors), std::end(mainBoardSelectors)));
    else
        result.append(QVector<int>(std::begin(amplifierSelectors), std::end(amplifierSelectors)));
    return result;
}

bool LabelLayout::isTableSelector(int selector)
{
    return selector >= 144 && selector <= 195 && (selector & 0x0F) != 0;
}

bool LabelLayout::encode(const Field& f, const QString& value, QByteArray* bytes, QString* error)
{
    switch (f.kind) {
    case Text: {
        const QByteArray text = value.toLatin1();
        if (text.size() > f.length) {
            *error = QString("%1 holds at most %2 characters").arg(f.name).arg(f.length);
            return false;
        }
        *bytes = text + QByteArray(f.length - text.size(), '\0');
        return true;
    }
    case Date: {
        const QDate date = QDate::fromString(value, Qt::ISODate);
        if (!date.isValid() || date.year() < 1980 || date.year() > 2107) {
            *error = QString("date \"%1\" is not YYYY-MM-DD from 1980 to 2107").arg(value.left(20));
            return false;
        }
        const quint16 packed
            = quint16(((date.year() - 1980) << 9) | (date.month() << 5) | date.day());
        *bytes = littleEndian(packed, 2);
        return true;
    }
    case Encoding:
        if (value == "S" || value == "plain") {
            *bytes = QByteArray(1, value == "S" ? char(bcdMarker) : '\0');
            return true;
        }
        *error = QString("Encoding is S or plain");
        return false;
    case Number:
        break;
    }

    bool ok = false;
    if (value.startsWith("bcd:")) {
        *bytes = bcdDigits(value.mid(4), f.length, &ok);
        if (!ok)
            *error = QString("%1 holds at most %2 BCD digits").arg(f.name).arg(2 * f.length);
        return ok;
    }
    if (value.startsWith("float:") && f.length == 4) {
        const float v = value.mid(6).toFloat(&ok);
        quint32 bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        // Stored most significant byte first, as the table's readers take it.
        *bytes = QByteArray(4, '\0');
        qToBigEndian<quint32>(bits, bytes->data());
        if (!ok)
            *error = QString("\"%1\" is not a number").arg(value.left(20));
        return ok;
    }
    const quint64 n = value.toULongLong(&ok, 0);
    const quint64 maximum = f.length >= 8 ? ~quint64(0) : (quint64(1) << (8 * f.length)) - 1;
    if (!ok || n > maximum) {
        *error = QString("%1 \"%2\" is not a number from 0 to %3")
                     .arg(f.name, value.left(20))
                     .arg(maximum);
        return false;
    }
    *bytes = littleEndian(n, f.length);
    return true;
}

quint16 LabelLayout::bcdWord(double v)
{
    if (std::isnan(v))
        return 0xFFFF;
    const quint16 sign = v < 0 ? 0x2000 : 0;
    const double a = std::fabs(v);
    if (a >= 2000.0)
        return sign | 0x0EEE;
    if (a < 0.001)
        return sign | 0x0AAA;
    int decimals = 0;
    if (a + 0.0005 < 2.0)
        decimals = 3;
    else if (a + 0.005 < 20.0)
        decimals = 2;
    else if (a + 0.05 < 200.0)
        decimals = 1;
    const int n = int(std::floor(a * std::pow(10.0, decimals) + 0.5));
    if (n > 1999)
        return 0xFFFF;
    const quint16 digits
        = quint16(((n / 1000) << 12) | (((n / 100) % 10) << 8) | (((n / 10) % 10) << 4) | (n % 10));
    return quint16((decimals << 14) | sign | digits);
}

void LabelLayout::fill(SimNode& node)
{
    const bool mainBoard = node.kind == SimNode::MainBoard;
    for (const int selector : selectors(mainBoard)) {
        if (isTableSelector(selector)) {
            fillTable(node, selector);
            continue;
        }
        node.writeLabel(selector, 0, QByteArray(labelSize, '\0'));
        const int group = selector >> 4;
        if (selector == node.boardLabelSelector()) {
            fillIdentity(node, selector, mainBoard ? "Mainboard" : "PwrSupply", false, 0);
            put(node, selector, "HardwareCode", "1");
            put(node, selector, "Check", "1");
            put(node, selector, "Hours", "1200");
            put(node, selector, "OnCount", "340");
        } else if (mainBoard && group >= 4 && group <= 7) {
            fillIdentity(node, selector, QString("PreAmp%1").arg(group - 3), true, group - 3);
        } else if (mainBoard && group == 8) {
            fillIdentity(node, selector, "InputSw", false, 0);
        } else if (mainBoard) {
            fillIdentity(node, selector, QString("PwrMeter%1").arg(group - 8), true, group - 8);
        } else {
            fillIdentity(node, selector, selector == 1 ? "Module" : "Amplifier", false, selector);
            if (selector == 2) {
                put(node, selector, "Hours", "800");
                put(node, selector, "OnCount", "210");
            }
        }
    }
    node.writeIdentityLabel();
}

} // namespace Sim
