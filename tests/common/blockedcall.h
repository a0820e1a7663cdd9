#pragma once

// The system call a thread of this process is blocked in, as the kernel reports it. Under a
// user-mode emulator (the controller's ARM build run on a PC) the kernel shows the emulator's own
// calls, numbered as on the PC, so tests compare with a helper thread parked in a known call
// instead of typing in a number from <sys/syscall.h>. Header only.

#include <QFile>
#include <QList>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include <sys/syscall.h>
#include <unistd.h>

namespace BlockedCall {

inline pid_t currentThread() { return pid_t(::syscall(SYS_gettid)); }

// The call's number and six arguments (then stack and program counter), or just "running";
// empty when the kernel does not tell.
inline QList<QByteArray> of(pid_t thread)
{
    QFile file(QStringLiteral("/proc/self/task/%1/syscall").arg(thread));
    return file.open(QIODevice::ReadOnly) ? file.readAll().simplified().split(' ') : QList<QByteArray>();
}

// park() runs in a helper thread until the kernel shows it in the same call twice in a row (an
// emulator's own short waits do not last); then unpark() lets it return.
inline QList<QByteArray> whileParked(const std::function<void()>& park, const std::function<void()>& unpark)
{
    std::atomic<pid_t> thread { 0 };
    std::thread helper([&] { thread = currentThread(); park(); });
    QList<QByteArray> seen, before;
    for (int i = 0; i < 500 && seen.isEmpty(); ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
        const QList<QByteArray> now = thread ? of(thread) : QList<QByteArray>();
        if (now.size() > 1 && now.mid(0, 7) == before.mid(0, 7))
            seen = now;
        before = now;
    }
    unpark();
    helper.join();
    return seen;
}

} // namespace BlockedCall
