#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <array>

class Zef400Widget;

// The node ids given to every occurrence of option (each followed by its value), collected into
// a set. The value "all" sets *all and ends the scan at once; a value that is not a decimal
// number, and an option without value at the end of the list, are skipped silently.
QSet<int> nodes(const QStringList& arguments, const QString& option, bool* all);

// The start-up's command line: help text, forced-update options and how they reach the window.
namespace CommandLine {

enum ForceOption {
    ForceMainboard,
    ForceAmplifier,
    ForceMainboardAT90,
    ForceMainboardFPGA,
    ForceAmplifierAT90,
    ForceAmplifierFPGA,
    ForceOptionCount
};

struct ForceSelection {
    bool all = false;
    QSet<int> ids;
};
using ForceSelections = std::array<ForceSelection, ForceOptionCount>;

// The option texts, in table order.
QString optionText(ForceOption option);

bool wantsHelp(const QStringList& arguments);
void printHelp();

// Parses the six options in table order and prints each selection right after its parse.
ForceSelections parseForcedUpdates(const QStringList& arguments);

// Hands the selections to the window, mainboards first. A complete-device selection of a kind
// overrides that kind's AT90 and FPGA options.
void applyForcedUpdates(Zef400Widget& window, const ForceSelections& selections);

} // namespace CommandLine
