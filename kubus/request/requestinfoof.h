#pragma once

#include "kubus/request/requestinfo.h"

namespace Kubus {

// The typed heap copy behind a RequestInfo handle.
template <typename T> class RequestInfoOf : public RequestInfo {
public:
    explicit RequestInfoOf(const T& request)
        : request(request)
    {
    }
    T request;
};

} // namespace Kubus
