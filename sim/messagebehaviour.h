#pragma once

#include "sim/nodebehaviour.h"

namespace Sim {

// The board's test-point and status messages (TP_* on mainboards, AMP_* on amplifiers) as the
// controller reaches them:
// - SCM_POLL naming one of them: the board sends that message with its current values;
// - SCM_CONTROL_1..4 naming one of them and a field: the board writes the values into that
//   field, so the next poll shows them, and confirms with the same frame;
// - SCM_COMMAND to sub-unit 0: the board confirms with the same frame;
// - SCM_MSG_ACK: the controller acknowledges a frame the board sent with the
//   acknowledge-request bit; counted, never answered.
// A message or field the board does not have, a sub-unit other than 0 or a frame of the wrong
// length is rejected as a bad parameter; a setting or command while firmware access is open as
// not fitting the board's state.
class MessageBehaviour : public NodeBehaviour {
public:
    bool accepts(const SimNode& node, const CanBus::CanMessage& frame) const override;
    void handle(SimNode& node, const CanBus::CanMessage& frame,
        QVector<NodeAnswer>& answers) const override;

    // Where the value bytes of a setting frame land: the byte offset in the message shownIn
    // (the target itself but for fields another message shows), or -1 when the board has no
    // such field.
    static int settingOffset(
        unsigned controlType, unsigned targetType, quint8 selectorBits, unsigned* shownIn);
    // The frame of a message with the node's current values, as the board sends it.
    static CanBus::CanMessage messageFrame(const SimNode& node, unsigned type, bool ackRequest);

private:
    void poll(SimNode& node, const CanBus::CanMessage& frame, QVector<NodeAnswer>& answers) const;
    void setting(
        SimNode& node, const CanBus::CanMessage& frame, QVector<NodeAnswer>& answers) const;
};

} // namespace Sim
