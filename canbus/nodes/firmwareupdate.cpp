#include "canbus/nodes/firmwareupdate.h"

#include "canbus/commands/sendmessageandwaitforacknowledgestate.h"
#include "canbus/engine/bufferedsignaltransition.h"
#include "canbus/nodes/canfwerrortransition.h"
#include "kubus/log/kulog.h"

#include <QFinalState>
#include <QSignalTransition>

#include <functional>

namespace CanBus {

namespace {

// A transition on a state's finished() that fires only when its test holds: the loops over erase
// units, blocks and version words are pairs of these (go round again / leave).
class GuardedTransition : public QSignalTransition {
public:
    GuardedTransition(QState* source, std::function<bool()> test,
        std::function<void()> action = std::function<void()>(), bool onEntered = false)
        : QSignalTransition(source, onEntered ? SIGNAL(entered()) : SIGNAL(finished()), source)
        , m_test(std::move(test))
        , m_action(std::move(action))
    {
    }

protected:
    bool eventTest(QEvent* event) override
    {
        return QSignalTransition::eventTest(event) && m_test();
    }
    void onTransition(QEvent*) override
    {
        if (m_action)
            m_action();
    }

private:
    std::function<bool()> m_test;
    std::function<void()> m_action;
};

// UpdateBytes --entered--> BlWEnd: the block's packages, in one burst.
class WriteBytesOfBlockTransition : public QSignalTransition {
public:
    WriteBytesOfBlockTransition(FirmwareUpdate& command, QState* source)
        : QSignalTransition(source, &QState::entered, source)
        , m_command(command)
    {
    }

protected:
    void onTransition(QEvent*) override { m_command.sendBlockData(); }

private:
    FirmwareUpdate& m_command;
};

// BlWEnd --A_ERROR_ACK--> BlWrite: the node found the block's checksum wrong; write it again.
class BlockRejectedTransition : public BufferedSignalTransition {
public:
    BlockRejectedTransition(FirmwareUpdate& command, QState* source, QAbstractState* target)
        : BufferedSignalTransition(command.stateMachine(),
            command.canNodeEngine().canMessageFactory().signalObject<A_ERROR_ACK>(),
            CanMessageType::signalName(), target, source)
        , m_command(command)
    {
    }

protected:
    void onTransition(QEvent*) override { m_command.blockRejected(); }

private:
    FirmwareUpdate& m_command;
};

template <class SENDER, eCanMessageType TYPE>
using Step = SendMessageAndWaitForAcknowledgeState<SENDER, TYPE>;

} // namespace

FirmwareUpdate::FirmwareUpdate(CanNodeEngine& engine, QObject* parent)
    : StateMachineCommand<Kubus::FirmwareUpdate>(engine, parent)
    , m_accessOn(engine.canMessageFactory(),
          [this](CanMessageT<SCM_FW_ACC_CONTROL>& frame) {
              frame.setStartStop(true);
              frame.setFwSelector(m_helper->firmwareSelector());
          })
    , m_accessOff(engine.canMessageFactory(),
          [this](CanMessageT<SCM_FW_ACC_CONTROL>& frame) {
              frame.setStartStop(false);
              frame.setFwSelector(m_helper->firmwareSelector());
          })
    , m_erase(engine.canMessageFactory(),
          [this](CanMessageT<SCM_FW_ACC_ERASE>& frame) {
              const unsigned unit = m_helper->currentBlockToErase();
              const bool fpga = m_helper->isFpga();
              frame.setStartBlock(quint16(fpga ? unit * 256 : unit));
              frame.setNoOfBlocksToErase(fpga ? 256 : 1);
              frame.setFwSelector(m_helper->firmwareSelector());
              m_helper->incrementBlockToErase();
          })
    , m_blockWrite(engine.canMessageFactory(),
          [this](CanMessageT<SCM_FW_ACC_BL_WRITE>& frame) {
              frame.setBlockNumber(quint16(m_helper->currentBlock()));
              frame.setBlockSize(quint16(m_helper->blockSize()));
          })
    , m_blockEnd(engine.canMessageFactory(),
          [this](CanMessageT<SCM_FW_ACC_BL_W_END>& frame) {
              frame.setBlockNumber(quint16(m_helper->currentBlock()));
              frame.setCheckSum(m_helper->currentBlockCrc());
          })
    , m_versionWrite(engine.canMessageFactory(),
          [this] {
              SendMessage_SCM_SERVICE_DATA_WR::Word word;
              word.selector = m_helper->versionSelector();
              word.byteAddress = m_helper->versionAddress();
              word.data = m_helper->versionWord();
              m_helper->incrementCurrentPosWriteFirmwareVersion();
              return word;
          })
    , m_reset(engine.canMessageFactory())
{
    // No time-out until the proxy gives the command its own.
    setTimeoutInterval(-1);
    connect(this, &FirmwareUpdate::signalEraseBlock, this, &FirmwareUpdate::slotEraseBlock);
}

FirmwareUpdate::~FirmwareUpdate() = default;

QAbstractTransition* FirmwareUpdate::errorTransition(CanNodeEngine& engine)
{
    return new CanFwErrorTransition(engine);
}

QState* FirmwareUpdate::state(QState* parent)
{
    auto* root = new QState(parent);
    auto* start = new QState(root);
    auto* empty = new QFinalState(root);
    auto* accessOn
        = new Step<SendMessage_SCM_FW_ACC_CONTROL, SCM_FW_ACC_CONTROL>(m_engine, m_accessOn, root);
    auto* erase = new QState(root);
    auto* eraseOne
        = new Step<SendMessage_SCM_FW_ACC_ERASE, SCM_FW_ACC_ERASE>(m_engine, m_erase, erase);
    auto* eraseDone = new QFinalState(erase);
    auto* updateBlock = new QState(root);
    auto* blWrite = new Step<SendMessage_SCM_FW_ACC_BL_WRITE, SCM_FW_ACC_BL_WRITE>(
        m_engine, m_blockWrite, updateBlock);
    auto* updateBytes = new QState(updateBlock);
    auto* blWEnd = new Step<SendMessage_SCM_FW_ACC_BL_W_END, SCM_FW_ACC_BL_W_END>(
        m_engine, m_blockEnd, updateBlock);
    auto* blockDone = new QFinalState(updateBlock);
    auto* accessOff
        = new Step<SendMessage_SCM_FW_ACC_CONTROL, SCM_FW_ACC_CONTROL>(m_engine, m_accessOff, root);
    auto* writeVersion = new QState(root);
    auto* writeOne = new Step<SendMessage_SCM_SERVICE_DATA_WR, SCM_SERVICE_DATA_WR>(
        m_engine, m_versionWrite, writeVersion);
    auto* versionDone = new QFinalState(writeVersion);
    auto* resetNode
        = new Step<SendMessage_SCM_RESET_MODULE, SCM_RESET_MODULE>(m_engine, m_reset, root);
    auto* waitAddress = new QState(root);
    auto* done = new QFinalState(root);
    root->setInitialState(start);
    erase->setInitialState(eraseOne);
    updateBlock->setInitialState(blWrite);
    writeVersion->setInitialState(writeOne);

    // An empty image has no block to write; the node is not touched.
    (new GuardedTransition(
         start, [this] { return m_helper->blocks() > 0; }, {}, true))
        ->setTargetState(accessOn);
    (new GuardedTransition(
         start, [this] { return m_helper->blocks() == 0; }, {}, true))
        ->setTargetState(empty);
    connect(empty, &QState::entered, this, [this] {
        Kubus::kuPrint("Empty firmware image: nothing written", Q_FUNC_INFO);
        slotCanCommunicationError();
    });

    connect(accessOn, &QState::entered, this, [this] {
        m_identifyStopped = true;
        emit signalStopIdentify();
    });
    accessOn->addTransition(accessOn, &QState::finished, erase);

    connect(eraseOne, &QState::entered, this, &FirmwareUpdate::signalEraseBlock);
    (new GuardedTransition(eraseOne, [this] {
        return !m_helper->isLastBlockToErase();
    }))->setTargetState(eraseOne);
    (new GuardedTransition(eraseOne, [this] {
        return m_helper->isLastBlockToErase();
    }))->setTargetState(eraseDone);
    erase->addTransition(erase, &QState::finished, updateBlock);

    connect(updateBlock, &QState::entered, this, &FirmwareUpdate::slotWriteBlock);
    blWrite->addTransition(blWrite, &QState::finished, updateBytes);
    (new WriteBytesOfBlockTransition(*this, updateBytes))->setTargetState(blWEnd);
    new BlockRejectedTransition(*this, blWEnd, blWrite);
    blWEnd->addTransition(blWEnd, &QState::finished, blockDone);
    (new GuardedTransition(
         updateBlock, [this] { return !m_helper->isLastBlock(); },
         [this] { m_helper->incrementCurrentBlock(); }))
        ->setTargetState(updateBlock);
    (new GuardedTransition(updateBlock, [this] {
        return m_helper->isLastBlock();
    }))->setTargetState(accessOff);

    accessOff->addTransition(accessOff, &QState::finished, writeVersion);
    (new GuardedTransition(writeOne, [this] {
        return !m_helper->isLastWriteFirmwareVersion();
    }))->setTargetState(writeOne);
    (new GuardedTransition(writeOne, [this] {
        return m_helper->isLastWriteFirmwareVersion();
    }))->setTargetState(versionDone);
    writeVersion->addTransition(writeVersion, &QState::finished, resetNode);
    resetNode->addTransition(resetNode, &QState::finished, waitAddress);

    new BufferedSignalTransition(stateMachine(),
        m_engine.canMessageFactory().signalObject<SCM_SET_ADDR_CO>(), CanMessageType::signalName(),
        done, waitAddress);
    connect(waitAddress, &QState::exited, this, &FirmwareUpdate::startIdentify);
    // A transfer that failed on the way switches identification reports on again as well:
    // otherwise the bus would stay without reports for the rest of the run.
    connect(this, &StateMachineCommandBase::finished, this, &FirmwareUpdate::startIdentify);
    connect(done, &QState::entered, this, &StateMachineCommandBase::slotDataWritten);
    return root;
}

void FirmwareUpdate::setCurrentRequest(const Kubus::FirmwareUpdate& request)
{
    m_info = request;
    m_rewrittenBlocks = 0;
    if (m_helper && m_helper->updateType() == m_info.type)
        m_helper->reset();
    else
        m_helper = std::make_unique<FirmwareUpdateHelper>(m_info);
}

void FirmwareUpdate::startIdentify()
{
    if (!m_identifyStopped)
        return;
    m_identifyStopped = false;
    emit signalStartIdentify();
}

void FirmwareUpdate::sendBlockData()
{
    const QByteArray block = m_helper->currentBlockBytes();
    CanMessageFactory& factory = m_engine.canMessageFactory();
    for (int k = 0; 7 * k < block.size(); ++k) {
        CanMessageT<SCM_FW_ACC_PA_WR> package;
        package.setPackageNumber(quint8(k));
        package.setPackageData(block.mid(7 * k, 7));
        factory.sendMessage(package);
    }
}

void FirmwareUpdate::blockRejected()
{
    ++m_rewrittenBlocks;
    Kubus::kuPrint(QStringLiteral("Node %1 rejected block %2: written again")
                       .arg(m_engine.nodeId())
                       .arg(m_helper->currentBlock()),
        Q_FUNC_INFO);
}

void FirmwareUpdate::slotEraseBlock()
{
    Kubus::FirmwareUpdateProgress progress;
    progress.phase = 0;
    progress.current = int(m_helper->currentBlockToErase());
    progress.count = int(m_helper->blocksToErase());
    postProgress(progress);
}

void FirmwareUpdate::slotWriteBlock()
{
    Kubus::FirmwareUpdateProgress progress;
    progress.phase = 1;
    const unsigned block = m_helper->currentBlock();
    progress.current = int(block == 0 ? m_helper->blocks() : block - 1);
    progress.count = int(m_helper->blocks());
    postProgress(progress);
}

// The record is taken now and sent once the machine's step is over: handing it to the bus wakes
// the bus thread, which would otherwise compete with the frame this step is about to send.
void FirmwareUpdate::postProgress(const Kubus::FirmwareUpdateProgress& progress)
{
    QMetaObject::invokeMethod(
        this, [this, progress] { emit signalFirmwareUpdateProgress(progress); },
        Qt::QueuedConnection);
}

void FirmwareUpdate::incomingMessage(const Kubus::FirmwareUpdate& request)
{
    queueRequest(request);
}

} // namespace CanBus
