#include "brellow/program_end.h"

#include <cstdlib>

namespace brellow {

void ProcessEnd::EndNow() { std::exit(0); }

}  // namespace brellow
