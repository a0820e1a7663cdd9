#pragma once

namespace Common {

// Hands the controller over to maintenance: starts the control script "ZefSw" with
// "stop4Maintenance" in a child process and ends this program with status -1. Never returns.
[[noreturn]] void stop4Maintenance();

} // namespace Common
