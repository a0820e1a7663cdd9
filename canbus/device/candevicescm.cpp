#include "canbus/device/candevicescm.h"

#include "canbus/device/candriverport.h"
#include "canbus/frame/canexception.h"
#include "kubus/log/kulog.h"
#include "platform/rootpath.h"

#include <QSemaphore>
#include <QtEndian>

#include <chrono>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace CanBus {

namespace {
constexpr quint32 BitTiming50kbit = 0x29958;
constexpr quint32 BitTiming125kbit = 0x7BAC4;
constexpr quint32 Format11Bit = 0x60000000;
constexpr quint32 Format29Bit = 0xE0000000;
constexpr int StandardIdShift = 18;
// How long close waits for a read that its wake-up did not end before it closes regardless.
constexpr int CloseWaitMs = 2000;

QString errorText(int error = errno)
{
    return QString::fromLocal8Bit(std::strerror(error));
}
} // namespace

// Lock order and purpose:
// - openCloseMutex serialises open and close of the owner.
// - closing is the closing permit: taken for the whole of close, so any read or write that
//   starts meanwhile reports DEVICE_NOT_OPEN instead of using a descriptor on its way out.
// - useLock is held shared by every read or write while it is inside the port; close takes it
//   exclusively after waking them, so the descriptor is never closed under a running call.
// - writeMutex keeps the one write record to one caller at a time.
struct CanDeviceScm::Private {
    explicit Private(const CanConfiguration& c)
        : configuration(c)
        , port(CanDriverPort::create())
    {
    }

    bool stillOpen() const { return closing.available() > 0 && port->isOpen(); }

    const CanConfiguration configuration;
    const std::unique_ptr<CanDriverPort> port;
    // Standard locks rather than Qt's, so that ThreadSanitizer sees what they order.
    std::mutex openCloseMutex;
    QSemaphore closing { 1 };
    std::shared_mutex useLock;
    std::mutex writeMutex;
    // Failed writes since the last good one (under writeMutex); only the first is explained.
    quint64 failedWrites = 0;
    char readBuffer[ReadBufferSize];
    char writeRecord[WriteRecordSize];
};

namespace {
// Shared use of the port for the length of one read or write.
using PortUse = std::shared_lock<std::shared_mutex>;
} // namespace

CanDeviceScm::CanDeviceScm(const CanConfiguration& configuration)
    : d(std::make_unique<Private>(configuration))
{
}

CanDeviceScm::~CanDeviceScm()
{
    close();
}

const CanConfiguration& CanDeviceScm::configuration() const
{
    return d->configuration;
}

QByteArray CanDeviceScm::configurationBlock(const CanConfiguration& configuration)
{
    quint32 word = configuration.speed() == CanConfiguration::Speed50kbit ? BitTiming50kbit
                                                                          : BitTiming125kbit;
    word |= configuration.idFormat() == CanConfiguration::Standard11Bit ? Format11Bit : Format29Bit;
    // The driver reads the block as memory of the controller, so the word is in its own order.
    QByteArray block(ConfigurationBlockSize, '\0');
    std::memcpy(block.data(), &word, sizeof word);
    return block;
}

void CanDeviceScm::open(eOpenMode mode)
{
    std::lock_guard<std::mutex> lock(d->openCloseMutex);
    if (d->port->isOpen())
        return;

    // The controller's CAN cells are only usable once the system chip's I/O region opens.
    const QByteArray uioPath = Platform::rootPathBytes("/dev/uio0");
    const int uio = ::open(uioPath.constData(), O_RDWR | O_CLOEXEC);
    if (uio < 0) {
        Kubus::kuPrint(
            QString("Cannot open %1: %2").arg(QString::fromLocal8Bit(uioPath), errorText()),
            Q_FUNC_INFO);
        throw CanException(CanException::CANT_OPEN_DEVICE);
    }
    const QByteArray path
        = Platform::rootPathBytes(QString("/dev/can%1").arg(int(d->configuration.deviceNumber())));
    if (!d->port->open(path, mode == NonBlocking)) {
        Kubus::kuPrint(QString("Cannot open %1: %2").arg(QString::fromLocal8Bit(path), errorText()),
            Q_FUNC_INFO);
        ::close(uio);
        throw CanException(CanException::CANT_OPEN_DEVICE);
    }
    const quint32 zero = 0;
    if (mode == NonBlocking)
        d->port->ioctl(IoctlStop, &zero, sizeof zero);
    const QByteArray block = configurationBlock(d->configuration);
    d->port->ioctl(IoctlConfigure, block.constData(), int(block.size()));
    d->port->ioctl(IoctlStart, &zero, sizeof zero);
    ::close(uio);
}

void CanDeviceScm::close()
{
    std::lock_guard<std::mutex> lock(d->openCloseMutex);
    if (!d->port->isOpen())
        return;
    d->closing.acquire();
    const quint32 zero = 0;
    d->port->ioctl(IoctlStop, &zero, sizeof zero);
    d->port->ioctl(IoctlStart, &zero, sizeof zero);
    d->port->interrupt();
    // Polled rather than a timed lock, whose clock-based wait ThreadSanitizer does not follow.
    // The wake-up ends a waiting call within microseconds, so the first tries succeed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(CloseWaitMs);
    bool idle;
    while (!(idle = d->useLock.try_lock()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!idle)
        Kubus::kuPrint(QString("A CAN read or write did not end within %1 ms; closing anyway")
                           .arg(CloseWaitMs),
            Q_FUNC_INFO);
    d->port->close();
    if (idle)
        d->useLock.unlock();
    d->closing.release();
}

bool CanDeviceScm::isReady()
{
    try {
        // The identify frame of a node with part, variant and serial number 1: harmless on a
        // live bus, and it proves the whole write path.
        CanMessage probe(SCM_IDENTIFY, 0, 7);
        probe.payload().setUint16(0, 1);
        probe.payload().setByte(2, 1);
        probe.payload().setUint32(3, 1);
        writeMessage(probe);
        return true;
    } catch (const CanException&) {
        return false;
    }
}

void CanDeviceScm::encodeWriteRecord(unsigned rawIdentifier, const QByteArray& payload,
    CanConfiguration::eCanIdFormat format, char* record)
{
    if (payload.size() > 8)
        throw CanException(CanException::PAYLOAD_TOO_BIG);
    char padded[8] = {};
    std::memcpy(padded, payload.constData(), size_t(payload.size()));
    const quint32 word = format == CanConfiguration::Standard11Bit
        ? rawIdentifier << StandardIdShift
        : rawIdentifier;
    record[0] = char(payload.size());
    qToBigEndian<quint32>(word, record + 1);
    // Each four-byte group goes out reversed.
    for (int i = 0; i < 4; ++i) {
        record[5 + i] = padded[3 - i];
        record[9 + i] = padded[7 - i];
    }
}

bool CanDeviceScm::decodeReadRecord(
    const char* record, CanConfiguration::eCanIdFormat format, CanMessage* message)
{
    const int length = quint8(record[7]);
    if (length > 8)
        return false;
    quint32 word = qFromBigEndian<quint32>(record + 3);
    if (format == CanConfiguration::Standard11Bit)
        word = (word >> StandardIdShift) & 0x7FF;
    else
        word &= CanIdentifier::RawMask;
    // The payload comes last byte first.
    QByteArray payload(length, '\0');
    for (int k = 0; k < length; ++k)
        payload[k] = record[15 - k];
    *message = CanMessage(word, payload);
    return true;
}

CanDevice::CanMessages CanDeviceScm::readMessages()
{
    CanMessages messages;
    qint64 n;
    {
        PortUse use(d->useLock);
        if (!d->stillOpen())
            throw CanException(CanException::DEVICE_NOT_OPEN);
        n = d->port->read(d->readBuffer, ReadBufferSize);
    }
    const int error = errno;
    if (n < ReadRecordSize) {
        // A close wakes a blocked read this way too; that is no fault.
        if (!d->stillOpen())
            throw CanException(CanException::DEVICE_NOT_OPEN);
        if (n < 0)
            Kubus::kuPrint(
                QString("Reading the CAN device failed: %1").arg(errorText(error)), Q_FUNC_INFO);
        else if (n == 0)
            Kubus::kuPrint("The CAN device gave no data (its peer has gone)", Q_FUNC_INFO);
        else
            Kubus::kuPrint(
                QString("The CAN device gave %1 bytes, less than one record").arg(n), Q_FUNC_INFO);
        throw CanException(CanException::READ_ERROR);
    }
    const int records = int(n / ReadRecordSize);
    for (int i = 0; i < records; ++i) {
        const char* record = d->readBuffer + i * ReadRecordSize;
        CanMessage message;
        if (!decodeReadRecord(record, d->configuration.idFormat(), &message)) {
            if (!d->stillOpen())
                throw CanException(CanException::DEVICE_NOT_OPEN);
            Kubus::kuPrint(QString("CAN read record %1 of %2 has the payload length %3; the %2 "
                                   "records of this read are dropped")
                               .arg(i + 1)
                               .arg(records)
                               .arg(quint8(record[7])),
                Q_FUNC_INFO);
            throw CanException(CanException::READ_ERROR);
        }
        messages.append(message);
    }
    return messages;
}

void CanDeviceScm::writeMessage(const CanMessage& message)
{
    PortUse use(d->useLock);
    if (!d->stillOpen())
        throw CanException(CanException::DEVICE_NOT_OPEN);
    std::lock_guard<std::mutex> lock(d->writeMutex);
    encodeWriteRecord(
        message.rawIdentifier(), message.bytes(), d->configuration.idFormat(), d->writeRecord);
    const qint64 n = d->port->write(d->writeRecord, WriteRecordSize);
    const int error = errno;
    if (n == WriteRecordSize) {
        if (d->failedWrites > 1)
            Kubus::kuPrint(
                QString("CAN writes work again after %1 failed ones").arg(d->failedWrites),
                Q_FUNC_INFO);
        d->failedWrites = 0;
        return;
    }
    if (!d->stillOpen())
        throw CanException(CanException::DEVICE_NOT_OPEN);
    if (d->failedWrites++ == 0)
        Kubus::kuPrint(QString("Writing the CAN device failed (%1 of 13 bytes): %2")
                           .arg(n < 0 ? 0 : n)
                           .arg(n < 0 ? errorText(error) : QString("short write")),
            Q_FUNC_INFO);
    throw CanException(CanException::INCOMPLETE_SEND, n < 0 ? 0 : int(n));
}

} // namespace CanBus
