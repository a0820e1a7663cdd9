#include "sim/nodefault.h"

#include "canbus/frame/canmessagetype.h"

#include <QRegularExpression>
#include <QStringList>

namespace Sim {

bool NodeFault::parseSpan(const QString& text, Span* span)
{
    // Twelve digits at most, so no unit can overflow before the range check.
    static const QRegularExpression form("^(\\d{1,12})(us|ms|s|frames)$");
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return false;
    bool ok = false;
    const qint64 value = m.captured(1).toLongLong(&ok);
    if (!ok)
        return false;
    const QString unit = m.captured(2);
    span->frames = unit == "frames";
    if (unit == "s")
        span->value = value * 1000000;
    else if (unit == "ms")
        span->value = value * 1000;
    else
        span->value = value;
    return span->frames ? span->value <= maximumFrames : span->value <= maximumTimeUs;
}

QString NodeFault::shortPiece(const QString& text)
{
    return text.size() <= 24 ? text : text.left(20) + "...";
}

QString NodeFault::kindName(Kind kind)
{
    switch (kind) {
    case Drop:
        return "drop";
    case Delay:
        return "delay";
    case ErrorAck:
        return "errorack";
    case Silent:
        return "silent";
    case Vanish:
        return "vanish";
    case Corrupt:
        return "corrupt";
    case PowerLoss:
        return "powerloss";
    case Send:
        return "send";
    }
    return "unknown";
}

bool NodeFault::parse(const QString& spec, NodeFault* fault, QString* error)
{
    NodeFault f;
    f.spec = spec.trimmed();
    const QStringList items = f.spec.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (items.size() < 2) {
        *error = QString("fault \"%1\" needs a target and a kind").arg(shortPiece(f.spec));
        return false;
    }

    static const QRegularExpression targetForm("^can([01])(?:/(\\d{1,10}))?$");
    const QRegularExpressionMatch t = targetForm.match(items.at(0).trimmed());
    if (!t.hasMatch()) {
        *error = QString("fault target \"%1\" is not can0, can1, can0/SERIAL or can1/SERIAL")
                     .arg(shortPiece(items.at(0).trimmed()));
        return false;
    }
    f.bus = t.captured(1).toInt();
    if (!t.captured(2).isEmpty()) {
        f.serial = t.captured(2).toLongLong();
        if (f.serial > 0xFFFFFFFFLL) {
            *error = QString("fault target serial %1 is above 4294967295").arg(f.serial);
            return false;
        }
    }

    bool haveKind = false;
    for (int i = 1; i < items.size(); ++i) {
        const QString item = items.at(i).trimmed();
        const int eq = item.indexOf(QLatin1Char('='));
        const QString key = eq < 0 ? item : item.left(eq);
        const QString value = eq < 0 ? QString() : item.mid(eq + 1);
        bool ok = true;
        auto needValue = [&]() {
            if (eq < 0) {
                *error = QString("fault \"%1\" needs a value").arg(shortPiece(key));
                return false;
            }
            return true;
        };
        auto setKind = [&](Kind kind) {
            if (haveKind) {
                *error = QString("fault \"%1\" names more than one kind").arg(shortPiece(f.spec));
                return false;
            }
            haveKind = true;
            f.kind = kind;
            return true;
        };

        if (key == "drop") {
            if (!setKind(Drop) || !needValue())
                return false;
            f.share = value.toDouble(&ok);
            if (!ok || f.share < 0.0 || f.share > 1.0) {
                *error = QString("drop share \"%1\" is not a number from 0 to 1")
                             .arg(shortPiece(value));
                return false;
            }
        } else if (key == "delay") {
            Span span;
            if (!setKind(Delay) || !needValue())
                return false;
            if (!parseSpan(value, &span) || span.frames) {
                *error = QString("delay \"%1\" is not a time from 0 to 600s such as 250ms")
                             .arg(shortPiece(value));
                return false;
            }
            f.delayUs = span.value;
        } else if (key == "errorack") {
            if (!setKind(ErrorAck) || !needValue())
                return false;
            f.errorCode = value.toInt(&ok, 0);
            if (!ok || f.errorCode < 0 || f.errorCode > 255) {
                *error = QString("error code \"%1\" is not a number from 0 to 255")
                             .arg(shortPiece(value));
                return false;
            }
        } else if (key == "silent") {
            if (!setKind(Silent))
                return false;
        } else if (key == "vanish") {
            if (!setKind(Vanish) || !needValue())
                return false;
            if (!parseSpan(value, &f.vanishFor)) {
                *error = QString("vanish \"%1\" is not a time up to 600s or a frame count such as "
                                 "500ms or 20frames")
                             .arg(shortPiece(value));
                return false;
            }
        } else if (key == "corrupt" || key == "powerloss") {
            if (!setKind(key == "corrupt" ? Corrupt : PowerLoss) || !needValue())
                return false;
            QString n = value;
            if (key == "powerloss" && n.endsWith("blocks"))
                n.chop(6);
            const int number = n.toInt(&ok);
            if (!ok || number < (key == "corrupt" ? 0 : 1) || number > 65535) {
                *error = QString("%1 \"%2\" is not a block number or count").arg(key, value);
                return false;
            }
            (key == "corrupt" ? f.block : f.afterBlocks) = number;
        } else if (key == "after") {
            if (!needValue())
                return false;
            if (!parseSpan(value, &f.vanishAfter)) {
                *error = QString("after \"%1\" is not a time up to 600s or a frame count")
                             .arg(shortPiece(value));
                return false;
            }
        } else if (key == "seed") {
            if (!needValue())
                return false;
            f.seed = value.toUInt(&ok, 0);
            if (!ok) {
                *error = QString("seed \"%1\" is not a number").arg(shortPiece(value));
                return false;
            }
        } else if (key == "type") {
            if (!needValue())
                return false;
            f.messageType = value.toInt(&ok, 16);
            if (!ok || f.messageType < 0 || f.messageType > 0xFFF) {
                *error = QString("message type \"%1\" is not 1 to 3 hex digits")
                             .arg(shortPiece(value));
                return false;
            }
        } else if (key == "count") {
            if (!needValue())
                return false;
            f.count = value.toInt(&ok);
            if (!ok || f.count < 1) {
                *error = QString("count \"%1\" is not a positive number").arg(shortPiece(value));
                return false;
            }
        } else if (key == "send") {
            CanBus::eCanMessageType type;
            if (!setKind(Send) || !needValue())
                return false;
            if (!CanBus::canMessageTypeFromName(value, &type)
                || !(value.startsWith("TP_") || value.startsWith("AMP_"))) {
                *error = QString("send \"%1\" is not a TP_ or AMP_ message").arg(shortPiece(value));
                return false;
            }
            f.messageType = int(type);
        } else if (key == "every") {
            Span span;
            if (!needValue())
                return false;
            if (!parseSpan(value, &span) || span.frames || span.value < 1000) {
                *error
                    = QString("every \"%1\" is not a time from 1ms to 600s").arg(shortPiece(value));
                return false;
            }
            f.periodUs = span.value;
        } else if (key == "ack") {
            f.ackRequest = true;
        } else {
            *error = QString("unknown fault item \"%1\"").arg(shortPiece(key));
            return false;
        }
    }
    if (!haveKind) {
        *error = QString("fault \"%1\" names no kind (drop, delay, errorack, silent, vanish, send)")
                     .arg(shortPiece(f.spec));
        return false;
    }
    *fault = f;
    return true;
}

} // namespace Sim
