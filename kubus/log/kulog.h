#pragma once

#include <QString>

// The program's one logging routine. Every line carries the emitting function's full
// signature; call sites pass Q_FUNC_INFO. Lines go to the log file when one is open, else to
// standard output, and to the TCP log clients once an application object exists.
namespace Kubus {

void kuPrint(const char* text, const char* function);
void kuPrint(const QString& text, const char* function);

// A separator of 72 dashes: into the log (toLog) or straight to standard output.
void kuErrorLine(bool toLog);

} // namespace Kubus

// Writes the Latin-1 bytes of text to standard output, adding nothing.
void qprintf(const QString& text);
