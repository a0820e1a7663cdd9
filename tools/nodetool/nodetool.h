#pragma once

#include "kubus/catalogue/onewayrecords.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace CanBus {
class CanDevice;
class Proxy;
} // namespace CanBus

// The service tool zef400-node: one command on one node of one bus, through the program's own
// proxy and Kubus bus. Exit status: 0 done, 1 the node failed or timed out, 2 misuse.
class NodeTool : public QObject {
    Q_OBJECT

public:
    enum Exit { Done = 0, NodeFailed = 1, Misuse = 2 };

    explicit NodeTool(int jsonFd);
    ~NodeTool() override;

    int run(const QStringList& arguments);

public slots:
    void foundNodes(const Kubus::IdentifyFoundNodes& nodes);

signals:
    void nodesReported();

private:
    int usage(const QString& reason);
    int fail(int exit, const QString& reason);
    int finish(const QJsonObject& result, const QString& text);
    bool start(bool mainBoard);
    // Waits until identification reports the node; false after several cycles without it.
    bool waitForNode(int nodeId);

    int scan();
    int label(int nodeId);
    int update(int nodeId, const QString& file, const QString& firmware);
    int control(const QString& command, int nodeId);

    int m_jsonFd;
    bool m_json = false;
    bool m_mainBoard = true;
    std::unique_ptr<CanBus::CanDevice> m_device;
    std::unique_ptr<CanBus::Proxy> m_proxy;
    Kubus::IdentifyFoundNodes m_lastFound;
    int m_reports = 0;
};
