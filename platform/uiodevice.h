#pragma once

#include <QtGlobal>

namespace Platform {

// The user-space I/O device of the controller's system chip ("/dev/uio0"). It exposes two
// register windows: map 0 at file offset 0 and map 1 at file offset one page. Under a stand-in
// root the device is a plain file of the same size, mapped with the very same calls, so what the
// program writes into the registers can be read back from the file.
//
// Every map is released and the device closed when the object goes, so an early return never
// leaks a mapping.
class UioDevice {
public:
    enum class ByteOrder { LittleEndian, BigEndian };

    static constexpr int MapCount = 2;
    static constexpr quint32 Map0Length = 0x3FFFFF;
    static constexpr quint32 Map1Length = 0x100000;

    UioDevice() = default;
    ~UioDevice();
    UioDevice(const UioDevice&) = delete;
    UioDevice& operator=(const UioDevice&) = delete;

    // Opens read-write; false when the device cannot be opened (descriptor() is then negative),
    // and also for a stand-in file too short for the register windows.
    bool open();
    int descriptor() const { return m_fd; }

    // Maps one window shared, readable and writable; false when it cannot be mapped.
    bool map(int index);
    void unmap(int index);
    bool isMapped(int index) const;

    // Closes the device (unmapping what is still mapped) and returns the result of close().
    int close();

    // 32-bit register access; the byte order is the register's own, whatever the CPU's is.
    // Offsets outside the mapped window, or an unmapped window, read 0 and write nothing.
    quint32 read(int index, quint32 offset, ByteOrder order) const;
    void write(int index, quint32 offset, ByteOrder order, quint32 value);
    void setBits(int index, quint32 offset, ByteOrder order, quint32 bits);
    void clearBits(int index, quint32 offset, ByteOrder order, quint32 bits);

    // File offset and length of a window, as the device expects them.
    static qint64 mapOffset(int index);
    static quint32 mapLength(int index);
    // The least size of a stand-in file: every window lies inside it.
    static qint64 requiredFileSize();

private:
    volatile quint32* registerAt(int index, quint32 offset) const;

    int m_fd = -1;
    void* m_maps[MapCount] = { nullptr, nullptr };
};

} // namespace Platform
