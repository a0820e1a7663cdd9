#include "app/commandline.h"

#include "app/zef400widget.h"

#include <QDebug>

QSet<int> nodes(const QStringList& arguments, const QString& option, bool* all)
{
    *all = false;
    QSet<int> ids;
    // The next search starts at the value's own position, so an option given as the value of
    // the same option still counts as an occurrence.
    for (qsizetype i = arguments.indexOf(option); i >= 0; i = arguments.indexOf(option, i + 1)) {
        if (i + 1 >= arguments.size())
            continue;
        const QString& value = arguments.at(i + 1);
        if (value == QLatin1String("all")) {
            *all = true;
            return ids;
        }
        bool ok = false;
        const int id = value.toInt(&ok, 10);
        if (ok)
            ids.insert(id);
    }
    return ids;
}

namespace CommandLine {

namespace {
struct OptionTexts {
    const char* option;
    const char* help;
    const char* allText;
    const char* idsText;
};

const OptionTexts optionTable[ForceOptionCount] = {
    { "--force-update-mainboard",
        "ID/all       force update of complete mainboard with given node id, option could be "
        "repeated, overwrites AT90/FPGA option",
        "Forcing update of all mainboards", "Forcing update on mainboards with nodeId: " },
    { "--force-update-amplifier",
        "ID/all       force update of complete power amplifier with given node id, option could "
        "be repeated, overwrites AT90/FPGA option",
        "Forcing update of all amplifiers", "Forcing update on amplifier with nodeId: " },
    { "--force-update-mainboard-at90",
        "ID/all       force update of mainboard's AT90 with given node id, option could be "
        "repeated",
        "Forcing update of AT90 on all mainboards",
        "Forcing update of AT90 on mainboards with nodeId: " },
    { "--force-update-mainboard-fpga",
        "ID/all       force update of mainboard's FPGA with given node id, option could be "
        "repeated",
        "Forcing update of FPGA on all mainboards",
        "Forcing update of FPGA on mainboards with nodeId: " },
    { "--force-update-amplifier-at90",
        "ID/all       force update of power amplifier's AT90 with given node id, option could be "
        "repeated",
        // The missing blank is the program's established text.
        "Forcing update of AT90 on allamplifiers",
        "Forcing update of AT90 on amplifiers with nodeId: " },
    { "--force-update-amplifier-fpga",
        "ID/all       force update of power amplifier's FPGA with given node id, option could be "
        "repeated",
        "Forcing update of FPGA on all amplifiers",
        "Forcing update of FPGA on amplifiers with nodeId: " },
};

// One kind of device: its complete-device, AT90 and FPGA options and the window's setters.
struct DeviceKind {
    ForceOption complete;
    ForceOption at90;
    ForceOption fpga;
    void (Zef400Widget::*setCompleteAll)(bool);
    void (Zef400Widget::*setCompleteIds)(const QSet<int>&);
    void (Zef400Widget::*setAT90All)(bool);
    void (Zef400Widget::*setAT90Ids)(const QSet<int>&);
    void (Zef400Widget::*setFPGAAll)(bool);
    void (Zef400Widget::*setFPGAIds)(const QSet<int>&);
};

void apply(Zef400Widget& window, const ForceSelections& selections, const DeviceKind& kind)
{
    const ForceSelection& complete = selections[kind.complete];
    if (complete.all) {
        (window.*kind.setCompleteAll)(true);
        return;
    }
    if (!complete.ids.isEmpty()) {
        (window.*kind.setCompleteIds)(complete.ids);
        return;
    }
    const ForceSelection& at90 = selections[kind.at90];
    if (at90.all)
        (window.*kind.setAT90All)(true);
    else
        (window.*kind.setAT90Ids)(at90.ids);
    const ForceSelection& fpga = selections[kind.fpga];
    if (fpga.all)
        (window.*kind.setFPGAAll)(true);
    else
        (window.*kind.setFPGAIds)(fpga.ids);
}
} // namespace

QString optionText(ForceOption option)
{
    return QString::fromLatin1(optionTable[option].option);
}

bool wantsHelp(const QStringList& arguments)
{
    return arguments.contains(QLatin1String("-h")) || arguments.contains(QLatin1String("--help"));
}

void printHelp()
{
    qDebug().noquote() << "--readonly"
                       << "                       don't update automatically";
    for (const OptionTexts& entry : optionTable)
        qDebug().noquote() << entry.option << entry.help;
}

ForceSelections parseForcedUpdates(const QStringList& arguments)
{
    ForceSelections selections;
    for (int option = 0; option < ForceOptionCount; ++option) {
        ForceSelection& selection = selections[option];
        selection.ids = nodes(arguments, optionText(ForceOption(option)), &selection.all);
        if (selection.all)
            qDebug().noquote() << optionTable[option].allText;
        else if (!selection.ids.isEmpty())
            qDebug().noquote() << optionTable[option].idsText << selection.ids;
    }
    return selections;
}

void applyForcedUpdates(Zef400Widget& window, const ForceSelections& selections)
{
    // Overloads are picked by the member pointer's type.
    using All = void (Zef400Widget::*)(bool);
    using Ids = void (Zef400Widget::*)(const QSet<int>&);
    const DeviceKind mainboards { ForceMainboard, ForceMainboardAT90, ForceMainboardFPGA,
        All(&Zef400Widget::setForceMainboardUpdate), Ids(&Zef400Widget::setForceMainboardUpdate),
        All(&Zef400Widget::setForceMainboardUpdateAT90),
        Ids(&Zef400Widget::setForceMainboardUpdateAT90),
        All(&Zef400Widget::setForceMainboardUpdateFPGA),
        Ids(&Zef400Widget::setForceMainboardUpdateFPGA) };
    const DeviceKind amplifiers { ForceAmplifier, ForceAmplifierAT90, ForceAmplifierFPGA,
        All(&Zef400Widget::setForceAmplifierUpdate), Ids(&Zef400Widget::setForceAmplifierUpdate),
        All(&Zef400Widget::setForceAmplifierUpdateAT90),
        Ids(&Zef400Widget::setForceAmplifierUpdateAT90),
        All(&Zef400Widget::setForceAmplifierUpdateFPGA),
        Ids(&Zef400Widget::setForceAmplifierUpdateFPGA) };
    apply(window, selections, mainboards);
    apply(window, selections, amplifiers);
}

} // namespace CommandLine
