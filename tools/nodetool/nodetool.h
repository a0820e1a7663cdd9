#pragma once

#include "kubus/records/deviceinfoversion.h"
#include "kubus/catalogue/onewayrecords.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class QFileInfo;

namespace CanBus {
class CanDevice;
class FirmwareImage;
class Proxy;
} // namespace CanBus

// The service tool zef400-node: one command on one node of one bus, through the program's own
// proxy and Kubus bus. Exit status: 0 done, 1 the node failed, timed out or refused, the image
// is for the other kind of board, the CAN device was lost or another controller is on the bus;
// 2 misuse. With --json every outcome prints one object, failures with "error".
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
    // The bus can no longer serve the tool: busProblem() says why.
    void busFailed();

private:
    int usage(const QString& reason);
    int fail(int exit, const QString& reason, QJsonObject result = QJsonObject());
    int finish(const QJsonObject& result, const QString& text);
    // A failed request: the bus's problem if it has one, else the status (and the node's
    // A_ERROR_ACK code when it gave one).
    int requestFailed(const QString& what, int status, QJsonObject result, int errorCode = 0);
    int nodeNotFound(int nodeId);
    QString busProblem() const;
    // Reads and judges the image file before the bus is touched.
    int loadImage(const QString& file);
    bool start(bool mainBoard);
    // Waits until identification reports the node; false after several cycles without it.
    bool waitForNode(int nodeId);
    int readLabel(int nodeId, Kubus::DeviceInfoVersion* label);

    int scan();
    int label(int nodeId);
    int update(int nodeId, const QString& firmware);
    int control(const QString& command, int nodeId);

    int m_jsonFd;
    bool m_json = false;
    bool m_mainBoard = true;
    std::unique_ptr<CanBus::CanDevice> m_device;
    std::unique_ptr<CanBus::Proxy> m_proxy;
    std::unique_ptr<CanBus::FirmwareImage> m_image;
    Kubus::IdentifyFoundNodes m_lastFound;
    // Nodes of the last cycle that found every id taken; they come before its report.
    QVector<Kubus::CanDeviceInfo> m_withoutId;
    int m_reports = 0;
    // Set in the proxy's spontaneous thread while this one may be blocked in a request.
    std::atomic<bool> m_otherMaster { false };
};
