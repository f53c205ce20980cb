// Placeholder until the window lands: reports what the engine can do so far.
#include <cstdio>

#include "engine/types/ABSException.h"

int main() {
  std::puts("Darlehens Tilgungsplan - the window is not built yet.");
  std::puts("The engine so far: engine errors and their messages, for example:");
  std::puts(EABSException(30289, "Unknown DataType: '%s'", {"22"}).what());
  return 0;
}
