#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <memory>

namespace CanBus {

// The few system calls through which CanDeviceScm reaches the CAN driver. The real leaf talks
// to the character device; the stand-in leaf talks to a simulator socket and carries the same
// ioctl requests and records as packets, so nothing above this seam can tell them apart.
//
// Threads: open, ioctl, interrupt and close come from the owning thread; read from the reader
// thread and write from any writer while the port is open. CanDeviceScm makes sure that close
// does not run while a read or write is inside the port, unless a read refused to return.
class CanDriverPort {
public:
    virtual ~CanDriverPort();

    // Opens the device read-write; false (with errno set) when it cannot be opened.
    virtual bool open(const QByteArray& path, bool nonBlocking) = 0;
    bool isOpen() const { return m_fd.load() >= 0; }
    // One ioctl request with its argument of argSize bytes; the result is not the caller's
    // concern, as the driver's answers carry nothing the device needs.
    virtual void ioctl(quint32 request, const void* argument, int argSize) = 0;
    // Like read(2) and write(2): the byte count, or -1 with errno set.
    virtual qint64 read(char* buffer, qint64 maxSize) = 0;
    virtual qint64 write(const char* data, qint64 size) = 0;
    // Makes a read or write that blocks, or is about to block, return at once; it stays in
    // effect until close.
    virtual void interrupt() = 0;
    virtual void close() = 0;

    // The socket stand-in under ZEF400_ROOT, else the character device.
    static std::unique_ptr<CanDriverPort> create();

protected:
    // The leaf's descriptor and mode after a successful open.
    void setOpened(int fd, bool nonBlocking);
    // The descriptor while open, else -1 with errno EBADF.
    int descriptor() const;
    // Takes the descriptor away (-1 when there was none): the leaf closes it.
    int takeDescriptor() { return m_fd.exchange(-1); }
    bool nonBlocking() const { return m_nonBlocking; }
    // Closes fd after a later step of open failed, keeping that step's errno for the caller.
    static void closeKeepingErrno(int fd);

    // A read, write or send that a signal interrupted is simply made again.
    template <class Call> static qint64 restartingOnSignal(Call call)
    {
        qint64 n;
        do
            n = qint64(call());
        while (n < 0 && errno == EINTR);
        return n;
    }

private:
    std::atomic<int> m_fd { -1 };
    bool m_nonBlocking = false;
};

} // namespace CanBus
