#pragma once

namespace Kubus {

// A heap copy of a request record that a command queue can hold without knowing its type;
// only the command that made it looks inside (through RequestInfoOf).
class RequestInfo {
public:
    virtual ~RequestInfo() = default;
};

} // namespace Kubus
