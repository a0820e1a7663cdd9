#pragma once

#include "kubus/catalogue/onewayrecords.h"

#include <QObject>
#include <QString>

namespace CanBus {

// The nodes last found on one bus with their node ids, kept in an INI file across restarts so
// that powered nodes get their old ids back before the first identify cycle.
//
// The controller may lose power at any moment. A rewrite therefore goes to a temporary file that
// is flushed to the disk and then renamed over the old one: the file on disk is always either the
// old or the new list, never a mix. A file that is damaged anyway (cut short, garbled, edited by
// hand) is reported and not trusted: it reads as empty and is rewritten after the next cycle.
class CanDeviceInfoCache : public QObject {
    Q_OBJECT

public:
    // fileName: the fixed path ("/var/etc/CanNodesMainBoard.ini"); taken under the root.
    CanDeviceInfoCache(QObject* parent, const QString& fileName);

    void read();
    void write();
    void update(const Kubus::IdentifyFoundNodes& found);
    bool isDifferent(const Kubus::IdentifyFoundNodes& found) const;
    const Kubus::IdentifyFoundNodes& get() const { return m_cached; }
    // Whether the file read at construction was damaged (and is waiting to be rewritten).
    bool isDamaged() const { return m_damaged; }

    static int findNode(int nodeId, const QVector<Kubus::CanDeviceInfo>& nodes);

private:
    // Why the file cannot be trusted, or an empty text when it can.
    QString check() const;

    QString m_fileName;
    QString m_path;
    Kubus::IdentifyFoundNodes m_cached;
    bool m_damaged = false;
};

} // namespace CanBus
