#pragma once
// Asks whether a TDS server answers on an address and port: connects, sends
// a PRELOGIN and waits (briefly) for a tabular-result packet.

#include <chrono>
#include <string>

namespace sqlengine::server {

bool AnswersTds(const std::string& address, int port,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

}  // namespace sqlengine::server
