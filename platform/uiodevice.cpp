#include "platform/uiodevice.h"

#include "platform/rootpath.h"

#include <QtEndian>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

UioDevice::~UioDevice()
{
    close();
}

bool UioDevice::open()
{
    if (m_fd >= 0)
        return true;
    m_fd = ::open(rootPathBytes("/dev/uio0").constData(), O_RDWR);
    if (m_fd < 0)
        return false;
    // A stand-in file shorter than a window would map, and the first register access past its
    // end would kill the program with SIGBUS: such a file counts as a device that cannot open.
    struct stat info { };
    if (::fstat(m_fd, &info) != 0 || (S_ISREG(info.st_mode) && info.st_size < requiredFileSize())) {
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    return true;
}

qint64 UioDevice::requiredFileSize()
{
    qint64 size = 0;
    for (int i = 0; i < MapCount; ++i)
        size = qMax(size, mapOffset(i) + qint64(mapLength(i)));
    return size;
}

qint64 UioDevice::mapOffset(int index)
{
    // The uio driver selects window N by the file offset of N pages.
    return index == 0 ? 0 : qint64(::sysconf(_SC_PAGESIZE)) * index;
}

quint32 UioDevice::mapLength(int index)
{
    return index == 0 ? Map0Length : Map1Length;
}

bool UioDevice::map(int index)
{
    if (index < 0 || index >= MapCount || m_fd < 0)
        return false;
    if (m_maps[index])
        return true;
    void* address = ::mmap(nullptr, mapLength(index), PROT_READ | PROT_WRITE, MAP_SHARED, m_fd,
        off_t(mapOffset(index)));
    if (address == MAP_FAILED)
        return false;
    m_maps[index] = address;
    return true;
}

void UioDevice::unmap(int index)
{
    if (index < 0 || index >= MapCount || !m_maps[index])
        return;
    ::munmap(m_maps[index], mapLength(index));
    m_maps[index] = nullptr;
}

bool UioDevice::isMapped(int index) const
{
    return index >= 0 && index < MapCount && m_maps[index];
}

int UioDevice::close()
{
    for (int i = 0; i < MapCount; ++i)
        unmap(i);
    if (m_fd < 0)
        return -1;
    const int result = ::close(m_fd);
    m_fd = -1;
    return result;
}

volatile quint32* UioDevice::registerAt(int index, quint32 offset) const
{
    if (!isMapped(index) || offset % 4 != 0 || offset > mapLength(index) - 4)
        return nullptr;
    return reinterpret_cast<volatile quint32*>(static_cast<char*>(m_maps[index]) + offset);
}

quint32 UioDevice::read(int index, quint32 offset, ByteOrder order) const
{
    volatile quint32* reg = registerAt(index, offset);
    if (!reg)
        return 0;
    const quint32 raw = *reg;
    return order == ByteOrder::LittleEndian ? qFromLittleEndian(raw) : qFromBigEndian(raw);
}

void UioDevice::write(int index, quint32 offset, ByteOrder order, quint32 value)
{
    volatile quint32* reg = registerAt(index, offset);
    if (!reg)
        return;
    *reg = order == ByteOrder::LittleEndian ? qToLittleEndian(value) : qToBigEndian(value);
}

void UioDevice::setBits(int index, quint32 offset, ByteOrder order, quint32 bits)
{
    write(index, offset, order, read(index, offset, order) | bits);
}

void UioDevice::clearBits(int index, quint32 offset, ByteOrder order, quint32 bits)
{
    write(index, offset, order, read(index, offset, order) & ~bits);
}

} // namespace Platform
