// Thread-checker builds only (ZEF400_TSAN), linked into every program and test.
//
// The distribution's Qt is not built with the thread checker: it posts an event under a lock
// taken inside its own library, so the checker never sees that the thread delivering an event
// comes after the thread that posted it, and reports every queued call as a race. This tells
// the checker about the hand-overs:
// - each signal emission releases on its sender before Qt posts it (Qt's hook for every
//   emission), and delivering the queued call acquires on the sender;
// - what our code posts without a signal (invokeMethod, postEvent, deleteLater) releases on the
//   receiver's post mark first, and every event delivered to that receiver acquires the mark;
// - blocking calls, QThread::wait, and Qt's mutex (contended), semaphore and read-write lock
//   release and acquire around the calls our code makes into them.
// A race inside a slot is still reported: the slot is ordered only after what the posting thread
// did before it emitted or posted. Not covered: the copies Qt makes of a queued call's arguments
// after the emission began (see tests/tsan.supp).
#include "kubus/tsanannotations.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

#include <cstddef>

#if !defined(__SANITIZE_THREAD__)
#error "qthandovers.cpp is built only with the thread checker"
#endif

// Qt's hook for every signal emission (declared in a header the distribution does not ship).
struct QSignalSpyCallbackSet {
    using BeginCallback = void (*)(QObject* caller, int signalOrMethodIndex, void** argv);
    using EndCallback = void (*)(QObject* caller, int signalOrMethodIndex);
    BeginCallback signal_begin_callback;
    BeginCallback slot_begin_callback;
    EndCallback signal_end_callback;
    EndCallback slot_end_callback;
};
void qt_register_signal_spy_callbacks(QSignalSpyCallbackSet* callbackSet);

namespace {

// The start of Qt 6's QAbstractMetaCallEvent as its library lays it out (the class is private
// to Qt; Qt 6.4's constructor stores the sender at 0x18): the event, the signal's index and the
// object that emitted it.
struct MetaCallEventLayout {
    alignas(QEvent) unsigned char event[sizeof(QEvent)];
    int signalId;
    const QObject* sender;
};
static_assert(QT_VERSION_MAJOR == 6 && sizeof(QEvent) == 16, "Qt 6 event layout");
static_assert(offsetof(MetaCallEventLayout, sender) == 0x18, "Qt 6 meta call event layout");

void signalBegin(QObject* sender, int, void**)
{
    __tsan_release(sender);
}

bool eventDelivered(void** data)
{
    const auto* receiver = static_cast<const QObject*>(data[0]);
    const auto* event = static_cast<const QEvent*>(data[1]);
    __tsan_acquire(zefTsanPostMark(receiver));
    if (event->type() == QEvent::MetaCall) {
        const QObject* sender = reinterpret_cast<const MetaCallEventLayout*>(event)->sender;
        if (sender)
            __tsan_acquire(const_cast<QObject*>(sender));
    }
    return false; // the event goes on to its receiver
}

QSignalSpyCallbackSet callbacks { signalBegin, nullptr, nullptr, nullptr };

// Installed before main, so that no thread starts before the hooks.
[[maybe_unused]] const bool installed = [] {
    qt_register_signal_spy_callbacks(&callbacks);
    return QInternal::registerCallback(QInternal::EventNotifyCallback, eventDelivered);
}();

} // namespace

// Calls from our code into Qt that hand something to another thread, or take it, inside Qt
// (linked with --wrap, see CMakeLists.txt): the handing side releases before the call, the taking
// side acquires after it.
class QSemaphore;
class QReadWriteLock;
class QBasicMutex;
class QStateMachine;

#define ZEF_WRAPPED(symbol, result, ...)                                                           \
    extern "C" result __real_##symbol(__VA_ARGS__);                                                \
    extern "C" result __wrap_##symbol(__VA_ARGS__)

namespace {

// A functor invoked in another thread: the thread that runs it releases after the call, and
// whoever drops the last reference (the caller once a blocking call returns, or either side of
// a queued one) acquires before destroying it.
class HandedCall : public QtPrivate::QSlotObjectBase {
public:
    HandedCall(QtPrivate::QSlotObjectBase* inner, char* done)
        : QSlotObjectBase(&impl)
        , m_inner(inner)
        , m_done(done)
    {
    }

private:
    static void impl(int which, QSlotObjectBase* self, QObject* receiver, void** args, bool* ret)
    {
        auto* call = static_cast<HandedCall*>(self);
        if (which == Destroy) {
            __tsan_acquire(&call->m_called);
            call->m_inner->destroyIfLastRef();
            delete call;
        } else if (which == Call) {
            char* done = call->m_done;
            call->m_inner->call(receiver, args);
            if (done)
                __tsan_release(done);
            __tsan_release(&call->m_called); // the last touch of this thread on the call
        } else if (ret) {
            *ret = false;
        }
    }

    QtPrivate::QSlotObjectBase* m_inner;
    char* m_done;
    char m_called = 0;
};

} // namespace

ZEF_WRAPPED(
    _ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv,
    bool, QObject* object, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type, void* ret)
{
    if (type == Qt::DirectConnection)
        return __real__ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv(
            object, slot, type, ret);
    char* done = type == Qt::BlockingQueuedConnection ? new char : nullptr;
    auto* call = new HandedCall(slot, done);
    __tsan_release(zefTsanPostMark(object));
    const bool invoked
        = __real__ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv(
            object, call, type, ret);
    if (done) {
        __tsan_acquire(done);
        delete done;
    }
    return invoked;
}

ZEF_WRAPPED(
    _ZN11QMetaObject12invokeMethodEP7QObjectPKcN2Qt14ConnectionTypeE22QGenericReturnArgument16QGenericArgumentS7_S7_S7_S7_S7_S7_S7_S7_S7_,
    bool, QObject* object, const char* member, Qt::ConnectionType type, QGenericReturnArgument ret,
    QGenericArgument a0, QGenericArgument a1, QGenericArgument a2, QGenericArgument a3,
    QGenericArgument a4, QGenericArgument a5, QGenericArgument a6, QGenericArgument a7,
    QGenericArgument a8, QGenericArgument a9)
{
    __tsan_release(zefTsanPostMark(object));
    return __real__ZN11QMetaObject12invokeMethodEP7QObjectPKcN2Qt14ConnectionTypeE22QGenericReturnArgument16QGenericArgumentS7_S7_S7_S7_S7_S7_S7_S7_S7_(
        object, member, type, ret, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9);
}

ZEF_WRAPPED(_ZN16QCoreApplication9postEventEP7QObjectP6QEventi, void, QObject* receiver,
    QEvent* event, int priority)
{
    __tsan_release(zefTsanPostMark(receiver));
    __real__ZN16QCoreApplication9postEventEP7QObjectP6QEventi(receiver, event, priority);
}

ZEF_WRAPPED(_ZN7QObject11deleteLaterEv, void, QObject* object)
{
    __tsan_release(zefTsanPostMark(object));
    __real__ZN7QObject11deleteLaterEv(object);
}

// Weak: programs without the state machine module link no such call.
extern "C" void __real__ZN13QStateMachine9postEventEP6QEventNS_13EventPriorityE(
    QStateMachine* machine, QEvent* event, int priority) __attribute__((weak));
extern "C" void __wrap__ZN13QStateMachine9postEventEP6QEventNS_13EventPriorityE(
    QStateMachine* machine, QEvent* event, int priority)
{
    __tsan_release(zefTsanPostMark(machine));
    __real__ZN13QStateMachine9postEventEP6QEventNS_13EventPriorityE(machine, event, priority);
}

ZEF_WRAPPED(_ZN7QThread4waitE14QDeadlineTimer, bool, QThread* thread, QDeadlineTimer deadline)
{
    const bool ended = __real__ZN7QThread4waitE14QDeadlineTimer(thread, deadline);
    if (ended)
        __tsan_acquire(thread); // released by its finished signal
    return ended;
}

// A contended QMutex is locked and unlocked inside Qt; the uncontended path is inline and seen.
ZEF_WRAPPED(_ZN11QBasicMutex12lockInternalEv, void, QBasicMutex* mutex)
{
    __real__ZN11QBasicMutex12lockInternalEv(mutex);
    __tsan_acquire(mutex);
}

ZEF_WRAPPED(_ZN11QBasicMutex14unlockInternalEv, void, QBasicMutex* mutex)
{
    __tsan_release(mutex);
    __real__ZN11QBasicMutex14unlockInternalEv(mutex);
}

ZEF_WRAPPED(_ZN10QSemaphore7releaseEi, void, QSemaphore* semaphore, int n)
{
    __tsan_release(semaphore);
    __real__ZN10QSemaphore7releaseEi(semaphore, n);
}

ZEF_WRAPPED(_ZN10QSemaphore7acquireEi, void, QSemaphore* semaphore, int n)
{
    __real__ZN10QSemaphore7acquireEi(semaphore, n);
    __tsan_acquire(semaphore);
}

ZEF_WRAPPED(_ZN10QSemaphore10tryAcquireEii, bool, QSemaphore* semaphore, int n, int timeout)
{
    const bool acquired = __real__ZN10QSemaphore10tryAcquireEii(semaphore, n, timeout);
    if (acquired)
        __tsan_acquire(semaphore);
    return acquired;
}

ZEF_WRAPPED(_ZN14QReadWriteLock11lockForReadEv, void, QReadWriteLock* lock)
{
    __real__ZN14QReadWriteLock11lockForReadEv(lock);
    __tsan_acquire(lock);
}

ZEF_WRAPPED(_ZN14QReadWriteLock12lockForWriteEv, void, QReadWriteLock* lock)
{
    __real__ZN14QReadWriteLock12lockForWriteEv(lock);
    __tsan_acquire(lock);
}

ZEF_WRAPPED(_ZN14QReadWriteLock6unlockEv, void, QReadWriteLock* lock)
{
    __tsan_release(lock);
    __real__ZN14QReadWriteLock6unlockEv(lock);
}
