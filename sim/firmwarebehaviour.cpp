#include "sim/firmwarebehaviour.h"

#include "canbus/frame/canmessaget.h"
#include "canbus/nodes/firmwareimagecluster.h"
#include "sim/controlbehaviour.h"
#include "sim/noderesponder.h"
#include "sim/simnode.h"

#include <QCryptographicHash>
#include <QTextStream>

namespace Sim {

using namespace CanBus;

namespace {

// Bit of the identify answer's protocol version byte that says the firmware is valid.
quint8 validBit(int selector)
{
    return selector == FirmwareBehaviour::at90Selector ? 2 : 4;
}

QByteArray& flashOf(SimNode& node, int selector)
{
    return selector == FirmwareBehaviour::at90Selector ? node.at90Flash : node.fpgaFlash;
}

NodeAnswer confirmation(const SimNode& node, const CanMessage& frame, qint64 workUs = 0)
{
    CanIdentifier id = frame.identifier();
    id.setDestination(unsigned(node.destinationClass()));
    id.setNodeId(unsigned(node.nodeId));
    id.setAckRequest(false);
    NodeAnswer answer { CanMessage(id, frame.payload()), 0 };
    answer.workUs = workUs;
    return answer;
}

void refuse(const SimNode& node, const CanMessage& frame, int code, QVector<NodeAnswer>& answers)
{
    answers.append({ NodeResponder::errorAck(node, frame, code), 0 });
}

// The first fault of kind that still has uses left (one use unless count says more).
SimNode::ActiveFault* pendingFault(SimNode& node, NodeFault::Kind kind)
{
    for (SimNode::ActiveFault& active : node.faults) {
        const int limit = active.fault.count < 0 ? 1 : active.fault.count;
        if (active.fault.kind == kind && active.used < limit)
            return &active;
    }
    return nullptr;
}

} // namespace

bool FirmwareBehaviour::accepts(const SimNode& node, const CanMessage& frame) const
{
    switch (frame.identifier().messageTypeCode()) {
    case SCM_FW_ACC_CONTROL:
    case SCM_FW_ACC_ERASE:
    case SCM_FW_ACC_BL_WRITE:
    case SCM_FW_ACC_PA_WR:
    case SCM_FW_ACC_BL_W_END:
        // Firmware frames go to one node by its id, never to all.
        return node.nodeId != SimNode::noNodeId && frame.nodeId() == unsigned(node.nodeId)
            && frame.destination() == unsigned(node.destinationClass());
    default:
        return false;
    }
}

void FirmwareBehaviour::handle(
    SimNode& node, const CanMessage& frame, QVector<NodeAnswer>& answers) const
{
    FirmwareState& fw = node.firmware;
    const CanPayload& p = frame.payload();
    const unsigned type = frame.identifier().messageTypeCode();

    if (type == SCM_FW_ACC_PA_WR) {
        // Packages are not acknowledged: one that comes without an open block is lost, and
        // a missing one leaves 0xFF that the block's checksum then catches.
        if (fw.openBlock < 0 || p.length() < 1) {
            ++fw.packagesIgnored;
            return;
        }
        const int offset = p.at(0) * 7;
        for (int i = 1; i < p.length() && offset + i - 1 < fw.openBlockSize; ++i)
            fw.blockBuffer[offset + i - 1] = char(p.at(i));
        return;
    }

    if (type == SCM_FW_ACC_CONTROL) {
        const int selector = p.length() >= 2 ? p.at(1) : -1;
        const int mode = p.length() >= 2 ? p.at(0) : -1;
        if ((selector != at90Selector && selector != fpgaSelector)
            || (mode != CanMessageT<SCM_FW_ACC_CONTROL>::Start
                && mode != CanMessageT<SCM_FW_ACC_CONTROL>::Stop))
            return refuse(node, frame, BadFrame, answers);
        fw.openBlock = -1;
        fw.blocksThisAccess = 0;
        fw.accessSelector = mode == CanMessageT<SCM_FW_ACC_CONTROL>::Start ? selector : -1;
        node.firmwareAccess = fw.accessSelector >= 0; // settings and label writes wait
        answers.append(confirmation(node, frame));
        return;
    }

    if (fw.accessSelector < 0)
        return refuse(node, frame, AccessOff, answers);
    QByteArray& flash = flashOf(node, fw.accessSelector);

    if (type == SCM_FW_ACC_ERASE) {
        if (p.length() < 6)
            return refuse(node, frame, BadFrame, answers);
        const CanMessageT<SCM_FW_ACC_ERASE> erase(frame);
        if (erase.fwSelector() != fw.accessSelector)
            return refuse(node, frame, AccessOff, answers);
        const qint64 start = qint64(erase.startBlock()) * blockSize;
        const qint64 end = start + qint64(erase.noOfBlocksToErase()) * blockSize;
        if (end <= start)
            return refuse(node, frame, BadFrame, answers);
        if (end > flash.size())
            return refuse(node, frame, OutsideFlash, answers);
        // The flash erases whole units: every unit the range touches goes.
        const bool at90 = fw.accessSelector == at90Selector;
        const qint64 unit = at90 ? at90EraseUnit : fpgaEraseUnit;
        const qint64 first = start / unit;
        const qint64 last = (end - 1) / unit;
        for (qint64 u = first; u <= last; ++u) {
            const qint64 from = u * unit;
            flash.replace(int(from), int(qMin<qint64>(unit, flash.size() - from)),
                QByteArray(int(qMin<qint64>(unit, flash.size() - from)), char(0xFF)));
        }
        const qint64 units = last - first + 1;
        const qint64 workUs = units * (at90 ? at90EraseUs : fpgaEraseUs);
        fw.unitsErased += units;
        fw.eraseWaitUs += workUs;
        node.protocolVersion &= quint8(~validBit(fw.accessSelector));
        answers.append(confirmation(node, frame, workUs));
        return;
    }

    if (type == SCM_FW_ACC_BL_WRITE) {
        if (p.length() < 5)
            return refuse(node, frame, BadFrame, answers);
        const CanMessageT<SCM_FW_ACC_BL_WRITE> announce(frame);
        const int size = announce.blockSize();
        if (size < 1 || size > blockSize)
            return refuse(node, frame, BadFrame, answers);
        if (qint64(announce.blockNumber()) * blockSize + size > flash.size())
            return refuse(node, frame, OutsideFlash, answers);
        fw.openBlock = announce.blockNumber();
        fw.openBlockSize = size;
        fw.blockBuffer = QByteArray(size, char(0xFF));
        answers.append(confirmation(node, frame));
        return;
    }

    // SCM_FW_ACC_BL_W_END
    if (p.length() < 5 || fw.openBlock < 0
        || CanMessageT<SCM_FW_ACC_BL_W_END>(frame).blockNumber() != fw.openBlock)
        return refuse(node, frame, BadFrame, answers);
    commitBlock(node, frame, answers);
}

void FirmwareBehaviour::commitBlock(
    SimNode& node, const CanMessage& frame, QVector<NodeAnswer>& answers)
{
    FirmwareState& fw = node.firmware;
    QByteArray& flash = flashOf(node, fw.accessSelector);
    const int block = fw.openBlock;
    fw.openBlock = -1;

    if (SimNode::ActiveFault* corrupt = pendingFault(node, NodeFault::Corrupt)) {
        if (corrupt->fault.block == block) {
            ++corrupt->used;
            fw.blockBuffer[fw.openBlockSize / 2]
                = char(fw.blockBuffer.at(fw.openBlockSize / 2) ^ 0x10);
        }
    }
    if (FirmwareImageCluster::calcCrc16(fw.blockBuffer)
        != CanMessageT<SCM_FW_ACC_BL_W_END>(frame).checkSum()) {
        ++fw.blocksRejected;
        return refuse(node, frame, ChecksumRetry, answers);
    }

    // Programming only clears bits: over flash that was not erased the result differs from
    // the block, which the boot loader finds when it reads the page back.
    const int at = block * blockSize;
    bool same = true;
    for (int i = 0; i < fw.openBlockSize; ++i) {
        flash[at + i] = char(flash.at(at + i) & fw.blockBuffer.at(i));
        same = same && flash.at(at + i) == fw.blockBuffer.at(i);
    }
    const qint64 workUs = fw.accessSelector == at90Selector ? at90WriteUs : fpgaWriteUs;
    fw.writeWaitUs += workUs;
    ++fw.blocksWritten;
    ++fw.blocksThisAccess;
    if (!same)
        return refuse(node, frame, VerifyFailed, answers);
    if (block == 0)
        node.protocolVersion |= validBit(fw.accessSelector);

    if (SimNode::ActiveFault* loss = pendingFault(node, NodeFault::PowerLoss)) {
        if (loss->fault.afterBlocks == fw.blocksThisAccess) {
            ++loss->used;
            ControlBehaviour::goDown(node, QString("loses power (%1)").arg(loss->fault.spec));
            return;
        }
    }
    answers.append(confirmation(node, frame, workUs));
}

void FirmwareBehaviour::dump(const SimNode& node, QTextStream& out)
{
    const FirmwareState& fw = node.firmware;
    const struct {
        const char* which;
        const QByteArray& flash;
        quint8 bit;
    } flashes[] = { { "at90", node.at90Flash, validBit(at90Selector) },
        { "fpga", node.fpgaFlash, validBit(fpgaSelector) } };
    for (const auto& f : flashes) {
        const QByteArray used = f.flash.left(SimNode::usedFlashLength(f.flash));
        out << f.which << "_flash_sha256="
            << QCryptographicHash::hash(used, QCryptographicHash::Sha256).toHex() << "\n";
        out << f.which << "_valid=" << ((node.protocolVersion & f.bit) ? "true" : "false") << "\n";
    }
    out << "fw_access=" << fw.accessSelector << "\n";
    out << "fw_units_erased=" << fw.unitsErased << "\n";
    out << "fw_blocks_written=" << fw.blocksWritten << "\n";
    out << "fw_blocks_rejected=" << fw.blocksRejected << "\n";
    out << "fw_packages_ignored=" << fw.packagesIgnored << "\n";
    out << "fw_erase_wait_us=" << fw.eraseWaitUs << "\n";
    out << "fw_write_wait_us=" << fw.writeWaitUs << "\n";
    out << "operating=" << (fw.operating ? "true" : "false") << "\n";
    out << "resets=" << fw.resets << "\n";
}

} // namespace Sim
