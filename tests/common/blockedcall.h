#pragma once

// The system call a thread of this process is blocked in, as the kernel reports it, for tests
// that prove where a thread waits. Under a user-mode emulator (the controller's 32-bit ARM build
// run on a PC) the kernel reports the emulator's own calls, numbered as on the PC and not as in
// the target's <sys/syscall.h>; so a test compares with a helper thread parked in a known call
// instead of typing in a number. Header only: a test needs nothing else linked for it.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include <sys/syscall.h>
#include <unistd.h>

namespace BlockedCall {

inline pid_t currentThread()
{
    return pid_t(::syscall(SYS_gettid));
}

// The fields of /proc/self/task/TID/syscall: the call's number and its six arguments (then stack
// and program counter), or just "running"; empty when the kernel does not tell.
inline QList<QByteArray> of(pid_t thread)
{
    QFile file(QStringLiteral("/proc/self/task/%1/syscall").arg(thread));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().simplified().split(' ');
}

// Runs park() in a helper thread until the kernel shows it blocked in the same call twice in a
// row (an emulator's own short waits do not last), notes that call, then unpark() lets it return.
inline QList<QByteArray> whileParked(
    const std::function<void()>& park, const std::function<void()>& unpark)
{
    std::atomic<pid_t> thread { 0 };
    std::thread helper([&] {
        thread = currentThread();
        park();
    });
    QList<QByteArray> seen;
    QList<QByteArray> before;
    for (int i = 0; i < 500; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!thread)
            continue;
        const QList<QByteArray> now = of(thread);
        if (now.isEmpty())
            break;
        if (now.size() > 1 && now.mid(0, 7) == before.mid(0, 7)) {
            seen = now;
            break;
        }
        before = now;
    }
    unpark();
    helper.join();
    return seen;
}

} // namespace BlockedCall
