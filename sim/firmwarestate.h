#pragma once

#include <QByteArray>
#include <QVector>

namespace Sim {

// What a board keeps while the controller writes its firmware, resets it or looks for its
// slot: it lives in the SimNode like everything else a behaviour changes, so the state dump
// shows it. The waits are the node-side times the simulator models (flash erase and program);
// summed per node they give the floor below which no transfer can go.
struct FirmwareState {
    int accessSelector = -1; // firmware access: -1 off, 0 AT90, 4 FPGA
    int openBlock = -1; // block announced by SCM_FW_ACC_BL_WRITE, -1 none
    int openBlockSize = 0;
    QByteArray blockBuffer; // the packages received for the open block (0xFF where none came)
    int blocksThisAccess = 0; // blocks committed since firmware access was switched on

    qint64 eraseWaitUs = 0;
    qint64 writeWaitUs = 0;
    qint64 unitsErased = 0;
    qint64 blocksWritten = 0;
    qint64 blocksRejected = 0; // wrong checksum, rewrite asked for
    qint64 packagesIgnored = 0; // SCM_FW_ACC_PA_WR without an open block

    bool operating = false; // SCM_SET_OPERATE received since the last start
    qint64 resets = 0;
    qint64 restartAtUs = -1; // wall clock when a node that went down comes back; -1: running

    QVector<int> signalledSlots; // mainboards: slots to signal on the backplane (1..4)
};

} // namespace Sim
