#pragma once
// Whether a test's engine is listening: a plain TCP connect to the loopback port.

namespace testing_support {

// True when something accepts a connection on 127.0.0.1:`port`.
bool AcceptsOnLoopback(int port);

}  // namespace testing_support
