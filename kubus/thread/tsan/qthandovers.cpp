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
// - Qt copies a queued call's arguments in the emitting thread after the emission began: the
//   copy constructors and destructors of the emitted types are wrapped on their first emission;
//   each copy releases on itself and, made during an emission, on its sender once more, and is
//   destroyed after acquiring on itself (events that are never delivered are destroyed too).
// A race inside a slot is still reported: the slot is ordered only after what the posting thread
// did before it emitted or posted, and the copies of its arguments.
#include "kubus/thread/tsanannotations.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaMethod>
#include <QObject>
#include <QThread>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

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

// Exported by Qt, declared only in its private headers: the method of a signal index.
extern "C" QMetaMethod _ZN18QMetaObjectPrivate6signalEPK11QMetaObjecti(
    const QMetaObject* object, int signalIndex);

// The emissions running in this thread, innermost last (a slot called directly may emit).
thread_local std::vector<QObject*> emitting;

std::mutex copiesMutex;
// Each wrapped type's own copy constructor and destructor.
struct TypeOperations {
    QtPrivate::QMetaTypeInterface::CopyCtrFn copy;
    QtPrivate::QMetaTypeInterface::DtorFn destroy;
};
std::unordered_map<const QtPrivate::QMetaTypeInterface*, TypeOperations> wrappedTypes;

TypeOperations operationsOf(const QtPrivate::QMetaTypeInterface* type)
{
    std::lock_guard<std::mutex> lock(copiesMutex);
    return wrappedTypes.at(type);
}

// A copy is read by the thread that gets the queued call, or destroyed by whichever thread
// drops an event that was never delivered.
void copyAndRelease(const QtPrivate::QMetaTypeInterface* type, void* where, const void* from)
{
    operationsOf(type).copy(type, where, from);
    __tsan_release(where);
    if (!emitting.empty())
        __tsan_release(emitting.back());
}

void acquireAndDestroy(const QtPrivate::QMetaTypeInterface* type, void* where)
{
    __tsan_acquire(where);
    operationsOf(type).destroy(type, where);
}

// The protection of the mapping that holds an address, from the kernel's list of mappings.
int protectionOf(std::uintptr_t address)
{
    FILE* maps = std::fopen("/proc/self/maps", "r");
    int protection = -1;
    unsigned long from = 0, to = 0;
    char perms[8] = {};
    char line[512];
    while (maps && protection < 0 && std::fgets(line, sizeof line, maps)) {
        if (std::sscanf(line, "%lx-%lx %4s", &from, &to, perms) == 3 && address >= from
            && address < to)
            protection = (perms[0] == 'r' ? PROT_READ : 0) | (perms[1] == 'w' ? PROT_WRITE : 0)
                | (perms[2] == 'x' ? PROT_EXEC : 0);
    }
    if (maps)
        std::fclose(maps);
    return protection;
}

// Points the type's copy constructor and destructor at copyAndRelease and acquireAndDestroy.
// Qt's type descriptions are constant objects with one mutable member, so they usually lie in
// writable memory; a read-only page is opened for the writes and closed again.
void wrapCopies(const QtPrivate::QMetaTypeInterface* type)
{
    if (!type)
        return;
    const auto current = __atomic_load_n(&type->copyCtr, __ATOMIC_ACQUIRE);
    if (!current || current == copyAndRelease)
        return;
    std::lock_guard<std::mutex> lock(copiesMutex);
    // The destructor is read only here: another thread may be wrapping it.
    if (wrappedTypes.count(type) || !type->dtor)
        return;
    auto* copySlot = const_cast<QtPrivate::QMetaTypeInterface::CopyCtrFn*>(&type->copyCtr);
    auto* dtorSlot = const_cast<QtPrivate::QMetaTypeInterface::DtorFn*>(&type->dtor);
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(type);
    const std::uintptr_t pageSize = std::uintptr_t(sysconf(_SC_PAGESIZE));
    const std::uintptr_t first = address & ~(pageSize - 1);
    const std::uintptr_t length
        = ((address + sizeof *type + pageSize - 1) & ~(pageSize - 1)) - first;
    void* pages = reinterpret_cast<void*>(first);
    const int protection = protectionOf(address);
    const bool opened = protection >= 0 && !(protection & PROT_WRITE);
    if (protection < 0 || protectionOf(address + sizeof *type - 1) != protection
        || (opened && mprotect(pages, length, protection | PROT_WRITE) != 0)) {
        std::fprintf(stderr, "qthandovers: cannot wrap the copies of %s\n", type->name);
        std::abort();
    }
    wrappedTypes.emplace(type, TypeOperations { *copySlot, *dtorSlot });
    __atomic_store_n(dtorSlot, &acquireAndDestroy, __ATOMIC_RELEASE);
    __atomic_store_n(copySlot, &copyAndRelease, __ATOMIC_RELEASE);
    if (opened)
        mprotect(pages, length, protection);
}

void signalBegin(QObject* sender, int signalIndex, void**)
{
    const QMetaMethod signal
        = _ZN18QMetaObjectPrivate6signalEPK11QMetaObjecti(sender->metaObject(), signalIndex);
    for (int i = 0; i < signal.parameterCount(); ++i)
        wrapCopies(signal.parameterMetaType(i).iface());
    emitting.push_back(sender);
    __tsan_release(sender);
}

void signalEnd(QObject*, int)
{
    if (!emitting.empty())
        emitting.pop_back();
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

QSignalSpyCallbackSet callbacks { signalBegin, nullptr, signalEnd, nullptr };

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
