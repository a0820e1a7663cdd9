#pragma once

#include "kubus/records.h"

#include <type_traits>

// Puts a number into a record, whatever its kind, and reads it back: proves that a record that
// went through a signal arrived as the one that was sent.
template <typename T> constexpr bool alwaysFalse = false;

template <typename T> void mark(T& record, int number)
{
    if constexpr (std::is_base_of_v<Kubus::NodeId, T>)
        record.nodeId = number;
    else if constexpr (std::is_base_of_v<Kubus::NodeInfo, T>)
        record.serialNumber = number;
    else if constexpr (std::is_same_v<T, Kubus::IdentifyInfo>)
        record.repeatInterval = number;
    else if constexpr (std::is_same_v<T, Kubus::FirmwareUpdateProgress>)
        record.current = number;
    else if constexpr (std::is_same_v<T, Kubus::AmplFrqTable>)
        record.blockId = number;
    else if constexpr (std::is_same_v<T, Kubus::AmplFrqTableCheckSum>)
        record.checkSum = number;
    else if constexpr (std::is_same_v<T, Kubus::FirmwareUpdateInfo>)
        record.version = QString::number(number);
    else if constexpr (std::is_same_v<decltype(record.nodes), QVector<Kubus::CanDeviceInfo>>) {
        Kubus::CanDeviceInfo node;
        node.nodeId = number;
        record.nodes.append(node);
    } else
        static_assert(alwaysFalse<T>, "no marker for this record");
}

template <typename T> int markOf(const T& record)
{
    if constexpr (std::is_base_of_v<Kubus::NodeId, T>)
        return record.nodeId;
    else if constexpr (std::is_base_of_v<Kubus::NodeInfo, T>)
        return int(record.serialNumber);
    else if constexpr (std::is_same_v<T, Kubus::IdentifyInfo>)
        return record.repeatInterval;
    else if constexpr (std::is_same_v<T, Kubus::FirmwareUpdateProgress>)
        return record.current;
    else if constexpr (std::is_same_v<T, Kubus::AmplFrqTable>)
        return int(record.blockId);
    else if constexpr (std::is_same_v<T, Kubus::AmplFrqTableCheckSum>)
        return int(record.checkSum);
    else if constexpr (std::is_same_v<T, Kubus::FirmwareUpdateInfo>)
        return record.version.toInt();
    else
        return record.nodes.size() == 1 ? record.nodes.first().nodeId : -1;
}
