#include "canbus/nodes/identifystatechart.h"

#include "canbus/engine/statemachine.h"
#include "canbus/frame/canexception.h"
#include "canbus/frame/canmessaget.h"
#include "canbus/routing/candestinationsetter.h"
#include "canbus/routing/canmessagetransition.h"
#include "kubus/log/kulog.h"

#include <QFinalState>
#include <QSignalTransition>
#include <QState>

#include <algorithm>

namespace CanBus {

namespace {

// What the controller sends as its own identity in the identify request.
constexpr quint16 ControllerPartNumber = quint16(91204400u & 0xFFFF);
constexpr quint8 ControllerVariant = 1;
constexpr quint32 ControllerSerial = 4711;
constexpr int EventBase = 1000;

// Identify --entered--> Collect: sends the broadcast request.
class IdentifyTransition : public QSignalTransition {
public:
    IdentifyTransition(IdentifyStateChart& chart, QState* source)
        : QSignalTransition(source, &QState::entered, source)
        , m_chart(chart)
    {
    }

protected:
    void onTransition(QEvent*) override { m_chart.sendIdentifyRequest(); }

private:
    IdentifyStateChart& m_chart;
};

// Every identify answer in Collect enters the cycle's node list.
class ReadIdentifyTransition : public CanMessageTransition<SCM_IDENTIFY> {
public:
    explicit ReadIdentifyTransition(IdentifyStateChart& chart)
        : m_chart(chart)
    {
    }

protected:
    void onTransition(QEvent* event) override
    {
        const CanMessageT<SCM_IDENTIFY> frame(static_cast<CanMessageEvent*>(event)->message());
        Kubus::CanDeviceInfo info;
        try {
            info.partNumber = frame.componentPartNumber();
            info.variant = frame.componentVariantNumber();
            info.serialNumber = frame.componentSerialNumber();
            const unsigned version = frame.canProtocolVersion();
            info.at90FirmwareValid = version == 31 || (version & 2);
            info.fpgaFirmwareValid = version == 31 || (version & 4);
        } catch (const CanException&) {
            Kubus::kuPrint(
                QStringLiteral("Identify answer too short: ") + frame.toString(), Q_FUNC_INFO);
            return;
        }
        unsigned nodeId = frame.nodeId();
        // A node without valid id answers with another priority; its id byte is not one.
        if (nodeId < CanIdentifier::BroadcastNodeId && frame.priority() != 3)
            nodeId = CanIdentifier::BroadcastNodeId;
        info.nodeId = int(nodeId);
        info.missLimit = 3;
        info.missCounter = 0;
        m_chart.dataBase().addNode(info);
    }

private:
    IdentifyStateChart& m_chart;
};

// Leaves Collect when the reply window is over; which of the three fires depends on the nodes.
class ReplyWindowTransition : public QSignalTransition {
public:
    enum Kind { Empty, AllInitialized, SomeWithoutId };

    ReplyWindowTransition(IdentifyStateChart& chart, Kind kind)
        : QSignalTransition(&chart.replyTimer(), &QTimer::timeout)
        , m_chart(chart)
        , m_kind(kind)
    {
    }

protected:
    bool eventTest(QEvent* event) override
    {
        if (!QSignalTransition::eventTest(event))
            return false;
        const CanDeviceInfoDataBase& db = m_chart.dataBase();
        switch (m_kind) {
        case Empty:
            return db.nodes().isEmpty();
        case AllInitialized:
            return !db.nodes().isEmpty() && db.allNodesInitialized();
        case SomeWithoutId:
            return !db.allNodesInitialized();
        }
        return false;
    }

private:
    IdentifyStateChart& m_chart;
    Kind m_kind;
};

// The end of one address exchange in SetAddress: the node's answer, its rejection or the 200 ms
// time-out. Each comes as a pair: back to SetAddress while a node still lacks an id (the
// re-entry addresses it with a fresh 200 ms), to Done when all have one. The test is made
// before the action, which drops the addressed node after a rejection or a time-out, so it
// looks at the list as the action will leave it.
bool allInitializedAfter(IdentifyStateChart& chart, bool dropCurrent)
{
    const CanDeviceInfoDataBase& db = chart.dataBase();
    const int current = db.currentNode().nodeId;
    bool dropped = !(dropCurrent && chart.addressPending());
    for (const auto& info : db.nodes()) {
        if (!dropped && info.nodeId == current) {
            dropped = true;
            continue;
        }
        if (info.nodeId >= CanDeviceInfoDataBase::NoNodeId)
            return false;
    }
    return true;
}

class AddressEndTransition : public QAbstractTransition {
public:
    AddressEndTransition(IdentifyStateChart& chart, int eventType, bool accepted, bool toDone)
        : m_chart(chart)
        , m_eventType(eventType)
        , m_accepted(accepted)
        , m_toDone(toDone)
    {
    }

protected:
    bool eventTest(QEvent* event) override
    {
        if (!event || event->type() != QEvent::Type(m_eventType))
            return false;
        const unsigned id = static_cast<CanMessageEvent*>(event)->message().nodeId();
        if (id != CanIdentifier::BroadcastNodeId
            && int(id) != m_chart.dataBase().currentNode().nodeId)
            return false;
        return allInitializedAfter(m_chart, !m_accepted) == m_toDone;
    }
    void onTransition(QEvent*) override { m_chart.addressAnswered(m_accepted); }

private:
    IdentifyStateChart& m_chart;
    int m_eventType;
    bool m_accepted;
    bool m_toDone;
};

class AddressTimeoutTransition : public QSignalTransition {
public:
    AddressTimeoutTransition(IdentifyStateChart& chart, bool toDone)
        : QSignalTransition(&chart.acknowledgeTimer(), &QTimer::timeout)
        , m_chart(chart)
        , m_toDone(toDone)
    {
    }

protected:
    bool eventTest(QEvent* event) override
    {
        return QSignalTransition::eventTest(event)
            && allInitializedAfter(m_chart, true) == m_toDone;
    }
    void onTransition(QEvent*) override { m_chart.addressAnswered(false); }

private:
    IdentifyStateChart& m_chart;
    bool m_toDone;
};

} // namespace

IdentifyStateChart::IdentifyStateChart(StateMachine& machine, CanDestinationSetter& setter,
    AdressMode mode, const QString& cacheFile, QObject* parent)
    : QObject(parent)
    , m_machine(machine)
    , m_setter(setter)
    , m_dataBase(this)
    , m_cache(new CanDeviceInfoCache(this, cacheFile))
    , m_replyTimer(this)
    , m_acknowledgeTimer(this)
    , m_mode(mode)
{
    // The setter lives in the bus's I/O thread: frames cross to it queued, in sending order.
    connect(this, &IdentifyStateChart::writeMessage, &m_setter, &CanDestinationSetter::inMessage);
}

void IdentifyStateChart::setWaitForReplyInterval(int ms)
{
    m_waitForReplyInterval = ms;
    m_replyTimer.setNextInterval(ms);
}

QState* IdentifyStateChart::state()
{
    m_replyTimer.setSingleShot(true);
    m_replyTimer.setNextInterval(m_waitForReplyInterval);
    m_acknowledgeTimer.setSingleShot(true);
    m_acknowledgeTimer.setInterval(AcknowledgeTimeout);

    auto* root = new QState;
    auto* identify = new QState(root);
    auto* collect = new QState(root);
    auto* setAddress = new QState(root);
    auto* done = new QFinalState(root);
    root->setInitialState(identify);

    (new IdentifyTransition(*this, identify))->setTargetState(collect);
    connect(identify, &QState::exited, &m_replyTimer, &ChangableTimer::startNextInterval);

    collect->addTransition(new ReadIdentifyTransition(*this));
    auto add = [](QState* from, QAbstractTransition* transition, QAbstractState* to) {
        transition->setTargetState(to);
        from->addTransition(transition);
    };
    add(collect, new ReplyWindowTransition(*this, ReplyWindowTransition::Empty), done);
    add(collect, new ReplyWindowTransition(*this, ReplyWindowTransition::AllInitialized), done);
    add(collect, new ReplyWindowTransition(*this, ReplyWindowTransition::SomeWithoutId),
        setAddress);

    connect(setAddress, &QState::entered, &m_acknowledgeTimer, qOverload<>(&QTimer::start));
    connect(setAddress, &QState::entered, this,
        m_mode == Config ? &IdentifyStateChart::send_SCM_SET_ADDR_Config
                         : &IdentifyStateChart::send_SCM_SET_ADDR_Operate);
    connect(setAddress, &QState::exited, &m_acknowledgeTimer, &QTimer::stop);
    const int answerType = EventBase + int(m_mode == Config ? SCM_SET_ADDR_CO : SCM_SET_ADDR_OP);
    const int rejectionType = EventBase + int(A_ERROR_ACK);
    for (bool toDone : { false, true }) {
        QAbstractState* target = toDone ? static_cast<QAbstractState*>(done) : setAddress;
        add(setAddress, new AddressEndTransition(*this, answerType, true, toDone), target);
        add(setAddress, new AddressEndTransition(*this, rejectionType, false, toDone), target);
        add(setAddress, new AddressTimeoutTransition(*this, toDone), target);
    }
    return root;
}

void IdentifyStateChart::sendIdentifyRequest()
{
    CanMessageT<SCM_IDENTIFY> request;
    request.setNodeId(CanIdentifier::BroadcastNodeId);
    request.setScmPartNumber(ControllerPartNumber);
    request.setScmVariantNumber(ControllerVariant);
    request.setScmSerialNumber(ControllerSerial);
    emit writeMessage(request);
}

void IdentifyStateChart::sendAddressFrame(const Kubus::CanDeviceInfo& info)
{
    CanMessage frame;
    if (m_mode == Config) {
        CanMessageT<SCM_SET_ADDR_CO> address;
        address.setPartNumber(quint16(info.partNumber));
        address.setVariantNumber(quint8(info.variant));
        address.setSerialNumber(info.serialNumber);
        address.setCanNodeId(quint8(info.nodeId));
        frame = address;
    } else {
        CanMessageT<SCM_SET_ADDR_OP> address;
        address.setPartNumber(quint16(info.partNumber));
        address.setVariantNumber(quint8(info.variant));
        address.setSerialNumber(info.serialNumber);
        address.setCanNodeId(quint8(info.nodeId));
        frame = address;
    }
    frame.setNodeId(CanIdentifier::BroadcastNodeId);
    emit writeMessage(frame);
}

bool IdentifyStateChart::sendAddress()
{
    m_addressPending = false;
    for (;;) {
        const Kubus::CanDeviceInfo info = m_dataBase.nextUninitilizedNode();
        if (info.nodeId < 0)
            return false;
        if (info.nodeId < CanDeviceInfoDataBase::NoNodeId) {
            sendAddressFrame(info);
            m_addressPending = true;
            return true;
        }
        // Every id of the bus is taken: this node cannot get one in this cycle. Dropping it
        // lets the cycle end instead of addressing it again and again.
        Kubus::kuPrint(QStringLiteral("No free node id for node %1.%2.%3")
                           .arg(info.estimatedPartNumber())
                           .arg(info.variant)
                           .arg(info.serialNumber),
            Q_FUNC_INFO);
        m_dataBase.dropCurrentNodeWithoutId();
    }
}

void IdentifyStateChart::addressAnswered(bool accepted)
{
    if (m_addressPending && !accepted)
        m_dataBase.deleteCurrentNode();
    m_addressPending = false;
}

void IdentifyStateChart::send_SCM_SET_ADDR_Config()
{
    sendAddress();
}

void IdentifyStateChart::send_SCM_SET_ADDR_Operate()
{
    sendAddress();
}

void IdentifyStateChart::initCachedNodes()
{
    QVector<int> used;
    QVector<Kubus::CanDeviceInfo> sent;
    for (Kubus::CanDeviceInfo info : m_cache->get().nodes) {
        // The same board twice in the cache keeps its first id; another id would move it.
        const bool again = std::any_of(sent.begin(), sent.end(), [&](const auto& other) {
            return other.partNumber == info.partNumber && other.variant == info.variant
                && other.serialNumber == info.serialNumber;
        });
        if (again)
            continue;
        sent.append(info);
        int id = info.nodeId;
        if (used.contains(id)) {
            while (used.contains(id) && id < CanDeviceInfoDataBase::NoNodeId)
                ++id;
        }
        if (id < 0 || id >= CanDeviceInfoDataBase::NoNodeId)
            continue;
        used.append(id);
        info.nodeId = id;
        sendAddressFrame(info);
        m_dataBase.addNode(info);
    }
    m_dataBase.clear();
}

} // namespace CanBus
