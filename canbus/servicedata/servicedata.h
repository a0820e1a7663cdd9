#pragma once

#include "kubus/records/amplfrqtablepartdata.h"
#include "kubus/records/deviceinfo.h"

#include <QByteArray>
#include <QDate>
#include <QString>

namespace CanBus {

// The service-data fields as tags (ServiceData::PartNumber, ...) from servicedatafields.def,
// and the conversion of a field's bytes into its value.
class ServiceData {
public:
    enum class Kind { Number, Encoding, Text, Date, TablePart };

#define SERVICE_DATA_FIELD(TAG, ADDRESS, LENGTH, TEXT, KIND, SETTER)                               \
    struct TAG {                                                                                   \
        static constexpr unsigned address = ADDRESS;                                               \
        static constexpr int length = LENGTH;                                                      \
        static constexpr const char* text = TEXT;                                                  \
        static constexpr Kind kind = Kind::KIND;                                                   \
        template <class R, class V> static void set(R& record, const V& value)                     \
        {                                                                                          \
            record.SETTER(value);                                                                  \
        }                                                                                          \
    };
#include "canbus/servicedata/servicedatafields.def"

    // The first length bytes of a field's buffer as its value. Fewer bytes than needed are
    // logged; a number then reads 0, the flag false, a table part zeros; a text takes what is
    // there and a date takes the missing bytes as zero.
    static quint32 number(const QByteArray& buffer, int length);
    static Kubus::DeviceInfo::Encoding encoding(const QByteArray& buffer);
    static QString text(const QByteArray& buffer, int length);
    static QDate date(const QByteArray& buffer);
    static Kubus::AmplFrqTablePartData tablePart(const QByteArray& buffer);

    // A number whose nibbles are decimal digits, most significant first.
    static quint32 fromBcd(quint32 value, int digits);

    template <class FIELD, class R> static void convertAndSet(const QByteArray& buffer, R& record)
    {
        if constexpr (FIELD::kind == Kind::Number)
            FIELD::set(record, number(buffer, FIELD::length));
        else if constexpr (FIELD::kind == Kind::Encoding)
            FIELD::set(record, encoding(buffer));
        else if constexpr (FIELD::kind == Kind::Text)
            FIELD::set(record, text(buffer, FIELD::length));
        else if constexpr (FIELD::kind == Kind::Date)
            FIELD::set(record, date(buffer));
        else
            FIELD::set(record, tablePart(buffer));
    }
};

} // namespace CanBus
