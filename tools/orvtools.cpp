// The programs this build makes, until the catalogue takes over as the main program.
#include <cstdio>

int main() {
  std::puts("Orvabase tools:");
  std::puts("  orvfs   inspect, fill and check a container file (coming with the container layer)");
  return 0;
}
