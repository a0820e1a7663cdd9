#pragma once

// The current call stack, one "[bt]: (N) module function" line per frame (the printer's own
// frame left out), ended by the separator line: through the log ...
void printCallStack();
// ... or straight to standard output.
void printfCallStack();

// Installs the fatal-signal handler for trace trap, abort, floating-point exception,
// segmentation violation, termination and stack fault. The handler prints the signal's name,
// a banner and the call stack between "<signal>" and "</signal>" on standard output and ends
// the process with the signal number as its exit status.
void printCallStackOnCrash();

// The handler itself, for a signal the caller installs it for by hand; a signal outside the
// table is reported as "Unknown signal: N".
void fatalSignalHandler(int signalNumber);
