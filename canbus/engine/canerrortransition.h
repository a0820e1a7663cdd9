#pragma once

#include "canbus/engine/bufferedsignaltransition.h"
#include "canbus/frame/canidentifier.h"

namespace CanBus {

class CanNodeEngine;

// Ends a running command when its node rejects a frame: listens to the node's A_ERROR_ACK
// frames and fires for the error codes that mean the command failed (see isError). Every judged
// frame is logged.
class CanErrorTransition : public BufferedSignalTransition {
    Q_OBJECT

public:
    explicit CanErrorTransition(CanNodeEngine& engine, QState* source = nullptr);

    // The two log lines of a rejection, with the origin "CanErrorTransition".
    static void printError(const QString& text, unsigned code, const CanIdentifier& rejected);
    // The error code of the last frame that fired the transition.
    unsigned lastErrorCode() const { return m_lastErrorCode; }

protected:
    bool eventTest(QEvent* event) override;
    // Judges one error code and logs it; true when the command ends.
    virtual bool isError(unsigned code, const CanIdentifier& rejected);

private:
    unsigned m_lastErrorCode = 0;
};

} // namespace CanBus
