#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

namespace Sim {

class SimNode;

// The service-data memory of a board as the controller reads it: which selectors (labels and
// tables) a board has, how large each area is, where every label field sits, and the default
// contents a board of the rack carries. Rack-file "field" lines are encoded here as well, so a
// field written in a rack file lands exactly where the controller reads it.
class LabelLayout {
public:
    enum FieldKind {
        Number, // unsigned little-endian; "bcd:DIGITS" gives BCD nibbles, "float:X" a big-endian
                // float
        Text, // bytes up to the field length, the rest zero
        Date, // YYYY-MM-DD, packed as year-1980 (7 bits), month (4), day (5)
        Encoding, // "S" (BCD label) or "plain"
    };

    struct Field {
        const char* name;
        int address;
        int length;
        FieldKind kind;
    };

    static constexpr int labelSize = 256;
    // A table area ends with its eighth 256-byte part.
    static constexpr int tableSize = 9 * 256;
    static constexpr quint8 bcdMarker = 0x53; // 'S' in the part number's top byte

    // The fields of the labels and of the amplitude-frequency table header.
    static const QVector<Field>& labelFields();
    static const QVector<Field>& tableFields();
    // The field of that name for the selector's kind of area, or null.
    static const Field* field(int selector, const QString& name);

    // The selectors a board of that kind has (mainboard true: board, pre-amplifiers, input
    // switch, power meters, tables; false: power supply, module, amplifier).
    static QVector<int> selectors(bool mainBoard);
    static bool isTableSelector(int selector);
    static int areaSize(int selector) { return isTableSelector(selector) ? tableSize : labelSize; }

    // The bytes of a field from a rack-file value; false with a reason when it does not fit.
    static bool encode(const Field& field, const QString& value, QByteArray* bytes, QString* error);
    // The 16-bit BCD measured-value word of v (three digits, thousands bit, sign, decimals).
    static quint16 bcdWord(double v);

    // Every label and table of the board, filled from its identity and versions.
    static void fill(SimNode& node);
};

} // namespace Sim
