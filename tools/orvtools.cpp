// The programs this build makes, until the catalogue takes over as the main program.
#include <cstdio>

int main() {
  std::puts("Orvabase tools (in build/release/tools):");
  std::puts("  orvfs create CONTAINER [--mode compact|normal|large] [--part-size BYTES] [--password PW]");
  std::puts("  orvfs info|ls|put|get|rm|mv|check CONTAINER ...   inspect, fill and check a container");
  std::puts("Run one through scripts/run, e.g.: scripts/run info Scalora.ovb");
  return 0;
}
