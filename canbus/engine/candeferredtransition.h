#pragma once

#include <QAbstractTransition>

namespace CanBus {

// The last transition of every command's outer state: never fires, but logs each event that no
// state of the running command consumed (a frame nobody waited for, a stray signal), which
// would otherwise be lost without a trace.
class CanDeferredTransition : public QAbstractTransition {
    Q_OBJECT

public:
    explicit CanDeferredTransition(QState* source = nullptr);

protected:
    bool eventTest(QEvent* event) override;
    void onTransition(QEvent*) override { }
};

} // namespace CanBus
