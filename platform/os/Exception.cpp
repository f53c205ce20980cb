#include "platform/os/Exception.h"

// Anchors the exception classes' virtual tables in one translation unit.
namespace platform {}  // namespace platform
