#pragma once

#include <QString>

namespace Sim {

// One misbehaviour of a node (or of every node of a bus), written the same way in a rack file
// line "fault SPEC" and on the command line "--fault SPEC":
//   TARGET,KIND[=VALUE][,OPTION=VALUE]...
// TARGET is can0 or can1 (every node of that bus) or can0/SERIAL, can1/SERIAL (one node).
class NodeFault {
public:
    enum Kind {
        Drop, // the node loses a share of the frames it hears
        Delay, // the node answers later than its processing delay
        ErrorAck, // the node rejects frames with A_ERROR_ACK
        Silent, // the node never answers
        Vanish, // the node drops off the bus and comes back without node id
        Corrupt, // a firmware block arrives damaged (its checksum no longer matches)
        PowerLoss, // the node loses power after committing some blocks of a transfer
        Send // the node sends a message on its own, again and again
    };

    // A length of time or a number of frames heard on the bus.
    struct Span {
        qint64 value = 0;
        bool frames = false;
    };

    static bool parse(const QString& spec, NodeFault* fault, QString* error);
    // "250ms", "3s", "800us" give microseconds; "12frames" counts frames.
    static bool parseSpan(const QString& text, Span* span);
    static QString kindName(Kind kind);
    // At most a short piece of text, for error messages that quote what they reject.
    static QString shortPiece(const QString& text);

    // Longest time a delay, a vanish span or a send period may have.
    static constexpr qint64 maximumTimeUs = 600LL * 1000000;
    static constexpr qint64 maximumFrames = 1000000000LL;

    QString spec; // as written, for log lines
    int bus = 0; // 0 = can0, 1 = can1
    qint64 serial = -1; // -1: every node of the bus
    Kind kind = Silent;

    double share = 0.0; // Drop: 0..1
    quint32 seed = 1; // Drop: makes the lost frames repeatable
    qint64 delayUs = 0; // Delay
    int errorCode = 0; // ErrorAck
    Span vanishFor; // Vanish: how long the node stays away
    Span vanishAfter; // Vanish: when it goes (since start or in frames heard)
    int block = -1; // Corrupt: the block number
    int afterBlocks = 0; // PowerLoss: blocks committed since firmware access went on

    qint64 periodUs = 1000000; // Send: time between two frames
    bool ackRequest = false; // Send: frames ask for SCM_MSG_ACK

    int messageType = -1; // only frames of this 12-bit type; -1: all (Send: the type sent)
    int count = -1; // only the first COUNT matching frames; -1: no limit
};

} // namespace Sim
