#pragma once

#include "sim/nodebehaviour.h"

class QTextStream;

namespace Sim {

// Firmware access as a board's boot loader plays it: access on and off per firmware (selector
// 0 the AT90 program, 4 the FPGA configuration), erase in whole erase units, and blocks of up
// to 256 bytes announced, sent in unacknowledged packages of 7 bytes and committed at the block
// end only when their CRC-16/MODBUS matches. A firmware counts as valid once its block 0 (the
// controller writes it last, so an interrupted transfer never leaves a startable image) is
// committed after an erase; the identify answer carries that in its protocol version byte.
class FirmwareBehaviour : public NodeBehaviour {
public:
    // Error codes of the A_ERROR_ACK with which the boot loader rejects a frame.
    enum FirmwareError {
        AccessOff = 32, // erase, block or block end without firmware access for that firmware
        OutsideFlash = 33, // erase or block beyond the flash
        BadFrame = 34, // too short, unknown selector or mode, block size or block number
        VerifyFailed = 36, // flash not erased under the block: programmed bytes differ
        ChecksumRetry = 37, // block checksum wrong: the controller writes the block again
    };

    static constexpr int at90Selector = 0;
    static constexpr int fpgaSelector = 4;
    static constexpr int blockSize = 256;
    static constexpr int at90EraseUnit = 256; // one flash page
    static constexpr int fpgaEraseUnit = 65536; // one sector of the configuration flash
    static constexpr qint64 at90EraseUs = 4500; // page erase
    static constexpr qint64 at90WriteUs = 4500; // page write
    static constexpr qint64 fpgaEraseUs = 650000; // sector erase
    static constexpr qint64 fpgaWriteUs = 1500; // page program

    bool accepts(const SimNode& node, const CanBus::CanMessage& frame) const override;
    void handle(SimNode& node, const CanBus::CanMessage& frame,
        QVector<NodeAnswer>& answers) const override;

    // The firmware-related keys of the state dump for node.
    static void dump(const SimNode& node, QTextStream& out);

private:
    static void commitBlock(
        SimNode& node, const CanBus::CanMessage& frame, QVector<NodeAnswer>& answers);
};

} // namespace Sim
