#include "ui/update/UpdateHost.h"

TUpdateHost& UpdateHost() {
  static TUpdateHost Host;
  return Host;
}
