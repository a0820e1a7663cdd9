#pragma once

#include "kubus/records/nodeid.h"

namespace Kubus {

// Header plus the outcome every response carries: 0 success, 1 CAN time-out, 2 CAN error,
// 3 and 4 request refused by the blocking requester.
class ResponseHeader : public NodeId {
public:
    qint32 status = 0;
};

} // namespace Kubus
