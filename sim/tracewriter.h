#pragma once

#include <QFile>
#include <QString>

namespace CanBus {
class CanMessage;
}

namespace Sim {

// The bus trace: one line per frame of either bus, "(SSSSSSSSSS.UUUUUU) canN IIIIIIII#DATA D",
// time = the frame's modelled end since start, D = T (a controller sent it) or R (a node did).
class TraceWriter {
public:
    bool open(const QString& path, QString* error);
    bool isOpen() const { return m_file.isOpen(); }
    void write(qint64 endUs, int bus, const CanBus::CanMessage& frame, bool fromController);
    void flush();

    static QString line(
        qint64 endUs, int bus, const CanBus::CanMessage& frame, bool fromController);

private:
    QFile m_file;
};

} // namespace Sim
