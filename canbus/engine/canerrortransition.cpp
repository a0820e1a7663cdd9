#include "canbus/engine/canerrortransition.h"

#include "canbus/engine/cannodeengine.h"
#include "canbus/frame/canexception.h"
#include "canbus/frame/canmessaget.h"
#include "canbus/routing/canmessagefactory.h"
#include "kubus/log/kulog.h"

namespace CanBus {

namespace {

const char* const origin = "CanErrorTransition";

// The frames a node may reject in the course of a command.
bool isCommandFrame(unsigned type)
{
    switch (type) {
    case SCM_POLL:
    case SCM_SERVICE_DATA_RD:
    case SCM_SERVICE_DATA_WR:
    case SCM_FW_ACC_BL_WRITE:
    case SCM_FW_ACC_BL_W_END:
    case SCM_FW_ACC_BL_READ:
    case SCM_FW_ACC_BL_R_END:
    case SCM_FW_ACC_ERASE:
    case SCM_FW_ACC_CONTROL:
    case SCM_SET_CONFIG:
    case SCM_SET_OPERATE:
    case SCM_SET_ADDR_CO:
    case SCM_SET_ADDR_OP:
    case SCM_COMMAND:
    case SCM_CONTROL_1:
    case SCM_CONTROL_2:
    case SCM_CONTROL_3:
    case SCM_CONTROL_4:
        return true;
    default:
        return false;
    }
}

} // namespace

CanErrorTransition::CanErrorTransition(CanNodeEngine& engine, QState* source)
    : BufferedSignalTransition(engine.stateMachine(),
        engine.canMessageFactory().signalObject<A_ERROR_ACK>(), CanMessageType::signalName(),
        nullptr, source)
{
}

void CanErrorTransition::printError(
    const QString& text, unsigned code, const CanIdentifier& rejected)
{
    Kubus::kuPrint(
        QStringLiteral("CAN Error: %1 with code %2").arg(text, QString::number(code, 16).toUpper()),
        origin);
    Kubus::kuPrint(QStringLiteral("           from CanMessage %1").arg(rejected.raw()), origin);
}

bool CanErrorTransition::eventTest(QEvent* event)
{
    if (!QSignalTransition::eventTest(event))
        return false;
    CanMessage frame;
    if (!canMessageArgument(event, &frame))
        return false;
    const CanMessageT<A_ERROR_ACK> error(frame);
    // A frame too short for its code cannot be judged; it must not throw into the machine.
    try {
        if (!isError(error.errorCode(), error.errorMessageCanIdentifier()))
            return false;
        m_lastErrorCode = error.errorCode();
        return true;
    } catch (const CanException&) {
        Kubus::kuPrint(
            QStringLiteral("A_ERROR_ACK too short, ignored: %1").arg(frame.toString()), origin);
        return false;
    }
}

bool CanErrorTransition::isError(unsigned code, const CanIdentifier& rejected)
{
    if (code == 0 || code == 48)
        return false;
    if (code >= 1 && code <= 3) {
        if (!isCommandFrame(rejected.messageTypeCode()))
            printError(QStringLiteral("A_ERROR_ACK unknown ID in error handling"), code, rejected);
        printError(QStringLiteral("A_ERROR_ACK"), code, rejected);
        return true;
    }
    if (code == 37) {
        Kubus::kuPrint("CanFwErrorTransition: 0x25 (ERROR_FIRMWARE_RETRY)", origin);
        printError(QStringLiteral("A_ERROR_ACK"), code, rejected);
        return true;
    }
    if (code >= 40 && code <= 44) {
        printError(QStringLiteral("A_ERROR_ACK"), code, rejected);
        return true;
    }
    Kubus::kuPrint("-- ", origin);
    printError(QStringLiteral("unknown error A_ERROR_ACK"), code, rejected);
    return false;
}

} // namespace CanBus
