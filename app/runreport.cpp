#include "app/runreport.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>

namespace {

bool sameNode(const FirmwareOutcome& a, const FirmwareOutcome& b)
{
    return a.deviceType == b.deviceType && a.nodeId == b.nodeId && a.serialNumber == b.serialNumber
        && a.partNumber == b.partNumber && a.variant == b.variant;
}

QJsonValue versionValue(const FirmwareOutcome& outcome, const QString& version)
{
    // A node whose label could not be read has no known version.
    if (outcome.action == QLatin1String("failed") && outcome.before.isEmpty())
        return QJsonValue::Null;
    return version;
}

QJsonObject firmwareJson(const FirmwareOutcome& outcome)
{
    return QJsonObject { { "before", versionValue(outcome, outcome.before) },
        { "after", versionValue(outcome, outcome.after) }, { "action", outcome.action },
        { "seconds", qRound(outcome.seconds * 10) / 10.0 } };
}

} // namespace

void RunReport::add(const FirmwareOutcome& outcome)
{
    for (FirmwareOutcome& known : outcomes)
        if (sameNode(known, outcome) && known.firmwareType == outcome.firmwareType) {
            known = outcome;
            return;
        }
    outcomes.append(outcome);
}

QByteArray RunReport::toJson(bool result, double seconds) const
{
    // One entry per node, mainboards first, each bus by node id.
    QList<FirmwareOutcome> nodes;
    for (const FirmwareOutcome& outcome : outcomes)
        if (std::none_of(nodes.begin(), nodes.end(),
                [&](const FirmwareOutcome& node) { return sameNode(node, outcome); }))
            nodes.append(outcome);
    std::stable_sort(nodes.begin(), nodes.end(), [](const auto& a, const auto& b) {
        return std::make_pair(a.deviceType, a.nodeId) < std::make_pair(b.deviceType, b.nodeId);
    });
    QJsonArray list;
    for (const FirmwareOutcome& node : nodes) {
        QJsonObject entry { { "bus", node.deviceType == 0 ? "mainboard" : "amplifier" },
            { "nodeId", node.nodeId }, { "partNumber", qint64(node.partNumber) },
            { "variant", qint64(node.variant) }, { "serial", qint64(node.serialNumber) } };
        for (const FirmwareOutcome& outcome : outcomes)
            if (sameNode(node, outcome))
                entry.insert(outcome.firmwareType == 0 ? "at90" : "fpga", firmwareJson(outcome));
        list.append(entry);
    }
    const QJsonObject root { { "result", result }, { "seconds", qRound(seconds * 10) / 10.0 },
        { "nodes", list } };
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool RunReport::write(const QString& path, bool result, double seconds, QString* error) const
{
    // QSaveFile writes a temporary file beside the target and renames it on commit.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(toJson(result, seconds)) < 0
        || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}
