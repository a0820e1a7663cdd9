#pragma once

#include <QString>

namespace Platform {

// Every fixed path of the system ("/dev/can0", "/usr/local/FwUpdate", "/var/etc/Hdf.hdf", ...)
// goes through here. With ZEF400_ROOT set, the path is taken under that folder, so the whole
// program can run against a laid-out stand-in root; unset, the real path comes back unchanged.
//
// A bare command name (no leading "/", e.g. "reboot") is found through the search path on the
// controller; under a root it becomes ROOT/sbin/NAME, where the stand-in root keeps its
// recording stand-in of that command.
QString rootPath(const QString& fixedPath);

// The same, as the local 8-bit bytes the C library calls want.
QByteArray rootPathBytes(const QString& fixedPath);

// True when ZEF400_ROOT is set (stand-in devices are in use).
bool haveRoot();

} // namespace Platform
