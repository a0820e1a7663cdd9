// Service-data memory as nodes answer it, label or amplitude-frequency table: every field is
// gathered word by word as the read commands do (a word the memory cuts short is a short answer)
// and converted into its record. A value read from whole bytes must give the same bytes again
// through the simulator's encoding of that field, which is written independently.
#include "canbus/servicedata/servicedata.h"
#include "kubus/records/amplfrqtable.h"
#include "kubus/records/deviceinfoboard.h"
#include "sim/labellayout.h"

#include <QtEndian>

#include <cmath>
#include <cstdlib>

using CanBus::ServiceData;
using Sim::LabelLayout;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The answers' data bytes for the words that cover the field, without the first address % 4.
template <class FIELD> QByteArray gather(const QByteArray& memory)
{
    const unsigned first = FIELD::address & ~3u;
    const unsigned last = (FIELD::address + FIELD::length - 1) & ~3u;
    QByteArray buffer;
    for (unsigned word = first; word <= last; word += 4) {
        const QByteArray data = int(word) < memory.size() ? memory.mid(word, 4) : QByteArray();
        buffer += word == first ? data.mid(FIELD::address % 4) : data;
    }
    return buffer;
}

QByteArray encoded(const char* name, int address, int length, LabelLayout::FieldKind kind,
    const QString& value)
{
    QByteArray bytes;
    QString error;
    check(LabelLayout::encode({ name, address, length, kind }, value, &bytes, &error));
    return bytes;
}

template <class FIELD> QByteArray whole(const QByteArray& buffer)
{
    return buffer.size() >= FIELD::length ? buffer.left(FIELD::length) : QByteArray();
}

// Numbers: plain, and as the BCD digits a BCD label holds (2 per byte).
template <class FIELD> void number(const QByteArray& memory)
{
    const QByteArray buffer = gather<FIELD>(memory);
    const quint32 value = ServiceData::number(buffer, FIELD::length);
    const QByteArray bytes = whole<FIELD>(buffer);
    if (bytes.isEmpty()) {
        check(value == 0);
        return;
    }
    check(encoded(FIELD::text, FIELD::address, FIELD::length, LabelLayout::Number,
              QString::number(value))
        == bytes);
    const int digits = 2 * FIELD::length;
    bool allDigits = true;
    for (int i = 0; i < digits; ++i)
        allDigits &= ((value >> (4 * i)) & 0xF) <= 9;
    if (allDigits)
        check(encoded(FIELD::text, FIELD::address, FIELD::length, LabelLayout::Number,
                  QStringLiteral("bcd:%1").arg(ServiceData::fromBcd(value, digits), digits, 10,
                      QLatin1Char('0')))
            == bytes);
}

template <class FIELD> void text(const QByteArray& memory)
{
    const QByteArray buffer = gather<FIELD>(memory);
    const QString value = ServiceData::text(buffer, FIELD::length);
    check(value.size() <= FIELD::length && !value.contains(QChar(0)));
    const QByteArray bytes
        = encoded(FIELD::text, FIELD::address, FIELD::length, LabelLayout::Text, value);
    check(buffer.left(FIELD::length).startsWith(bytes.left(int(value.size()))));
    check(ServiceData::text(bytes, FIELD::length) == value);
}

void date(const QByteArray& memory)
{
    using Field = ServiceData::ProductionDate;
    QByteArray bytes = gather<Field>(memory).left(Field::length);
    const QDate value = ServiceData::date(bytes);
    // Missing bytes count as zero.
    bytes += QByteArray(Field::length - int(bytes.size()), '\0');
    if (value.isValid())
        check(encoded(Field::text, Field::address, Field::length, LabelLayout::Date,
                  value.toString(Qt::ISODate))
            == bytes);
}

void encoding(const QByteArray& memory)
{
    using Field = ServiceData::Encoding;
    const QByteArray buffer = gather<Field>(memory);
    const bool bcd = ServiceData::encoding(buffer).isBcd;
    check(bcd == buffer.startsWith(encoded(Field::text, Field::address, 1, LabelLayout::Encoding, "S")));
}

// The start frequency and step size arrive as a float's bytes, most significant first.
template <class FIELD> void frequency(const QByteArray& memory, float value)
{
    const QByteArray bytes = whole<FIELD>(gather<FIELD>(memory));
    // The value goes through text: denormals and the nine-digit text of values next to the
    // largest float do not parse back, and -0 prints as 0.
    if (bytes.isEmpty() || std::fabs(value) > 1e38f
        || !(std::isnormal(value) || (value == 0 && !std::signbit(value))))
        return;
    check(encoded(FIELD::text, FIELD::address, 4, LabelLayout::Number,
              QStringLiteral("float:") + QString::number(double(value), 'g', 9))
        == bytes);
}

template <class FIELD, class R> void set(const QByteArray& memory, R& record)
{
    ServiceData::convertAndSet<FIELD>(gather<FIELD>(memory), record);
}

void label(const QByteArray& memory)
{
    encoding(memory);
    number<ServiceData::PartNumber>(memory);
    number<ServiceData::ProductIndex>(memory);
    number<ServiceData::Variant>(memory);
    number<ServiceData::Serial>(memory);
    date(memory);
    text<ServiceData::Name>(memory);
    number<ServiceData::HardwareCode>(memory);
    number<ServiceData::ReadCode>(memory);
    number<ServiceData::Check>(memory);
    number<ServiceData::Hours>(memory);
    number<ServiceData::OnCount>(memory);
    number<ServiceData::SwBundleNumber>(memory);
    text<ServiceData::SwBundleVersion>(memory);
    text<ServiceData::SoftwareVersion>(memory);
    text<ServiceData::FirmwareVersion>(memory);

    // The whole record, as the longest label fills it.
    Kubus::DeviceInfoBoard board;
    set<ServiceData::Encoding>(memory, board);
    set<ServiceData::PartNumber>(memory, board);
    set<ServiceData::ProductIndex>(memory, board);
    set<ServiceData::Variant>(memory, board);
    set<ServiceData::Serial>(memory, board);
    set<ServiceData::ProductionDate>(memory, board);
    set<ServiceData::Name>(memory, board);
    set<ServiceData::HardwareCode>(memory, board);
    set<ServiceData::ReadCode>(memory, board);
    set<ServiceData::Check>(memory, board);
    set<ServiceData::Hours>(memory, board);
    set<ServiceData::OnCount>(memory, board);
    set<ServiceData::SwBundleNumber>(memory, board);
    set<ServiceData::SwBundleVersion>(memory, board);
    set<ServiceData::SoftwareVersion>(memory, board);
    set<ServiceData::FirmwareVersion>(memory, board);
}

void table(const QByteArray& memory)
{
    number<ServiceData::BlockId>(memory);
    number<ServiceData::CheckSum>(memory);
    number<ServiceData::StepCount>(memory);
    number<ServiceData::DbStart>(memory);
    number<ServiceData::DbStep>(memory);
    number<ServiceData::DbCount>(memory);
    number<ServiceData::DbOutputFactor>(memory);

    Kubus::AmplFrqTable record;
    set<ServiceData::FrqStart>(memory, record);
    set<ServiceData::StepSize>(memory, record);
    frequency<ServiceData::FrqStart>(memory, record.frqStart);
    frequency<ServiceData::StepSize>(memory, record.stepSize);
    set<ServiceData::TablePart1>(memory, record);
    set<ServiceData::TablePart2>(memory, record);
    set<ServiceData::TablePart3>(memory, record);
    set<ServiceData::TablePart4>(memory, record);
    set<ServiceData::TablePart5>(memory, record);
    set<ServiceData::TablePart6>(memory, record);
    set<ServiceData::TablePart7>(memory, record);
    set<ServiceData::TablePart8>(memory, record);
    // Part k is column k - 1, value i of a part from bytes 2i (low) and 2i + 1; a part cut short
    // reads as zeros.
    using Table = Kubus::AmplFrqTable::Table;
    for (int column = 0; column < Table::columnCount; ++column) {
        const int start = 256 * (column + 1);
        const bool complete = memory.size() >= start + 256;
        for (int row = 0; row < Table::rowCount; ++row)
            check(record.table.getValue(row, column)
                == (complete ? qFromLittleEndian<quint16>(memory.constData() + start + 2 * row)
                             : 0));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const QByteArray memory(reinterpret_cast<const char*>(data), qsizetype(size));
    label(memory);
    table(memory);
    return 0;
}
