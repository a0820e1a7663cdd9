#pragma once

#include "canbus/frame/canexception.h"
#include "canbus/frame/canmessage.h"

#include <QObject>

#include <atomic>

class QThread;

namespace CanBus {

class CanDevice;
class CanReader;
class CanWriter;

// The reader/writer pair of one device, each in a thread of its own, so that a blocking read
// never delays a write. Users talk to it only through signals and slots; frames and errors
// arrive queued, in the user's thread, in the order they happened.
class CanAsyncReadWrite : public QObject {
    Q_OBJECT

public:
    // The pair of device, made and started on first request and shared by every user of the
    // device until the last one releases it. The pair holds the device, so its users release it
    // before the device ends.
    static CanAsyncReadWrite* instance(CanDevice* device);
    // One user is done with the device's pair; the last one stops and deletes it. Call from a
    // thread that is neither of the pair's nor the one it lives in (or with that one stopped).
    static void release(CanDevice* device);

    // Opens the device and starts both threads, with auto-read on.
    explicit CanAsyncReadWrite(CanDevice* device, QObject* parent = nullptr);
    ~CanAsyncReadWrite() override;

    void start();
    // Closes the device, which ends a waiting read quietly, then stops both threads after their
    // pending work.
    void stop();

    // With auto-read on, every successful read queues the next one, so the reader is always
    // waiting on the device. A read error ends the chain: a device that failed would otherwise
    // be asked again and again.
    void setAutoRead(bool on);
    bool autoRead() const { return m_autoRead.load(); }

    CanDevice* device() const { return m_device; }

public slots:
    void read();
    void write(const CanBus::CanMessage& message);
    void readerAckRead(const CanBus::CanMessage& message);

signals:
    void ackRead(const CanBus::CanMessage& message);
    void ackWrite();
    void readError(const CanBus::CanException& exception);
    void writeError(const CanBus::CanException& exception);
    void triggerRead();
    void triggerWrite(const CanBus::CanMessage& message);

private:
    CanDevice* const m_device;
    QThread* const m_readerThread;
    QThread* const m_writerThread;
    CanReader* const m_reader;
    CanWriter* const m_writer;
    std::atomic<bool> m_autoRead { false };
    QMetaObject::Connection m_autoReadConnection;
};

} // namespace CanBus
