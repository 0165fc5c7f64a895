// Placeholder until the service lands.
#include <cstdio>
int main() {
  std::puts("sqlengine: not built yet");
  return 1;
}
