// The process-wide design-mode flag of the engine.
//
// Engine start-up clears it; a database or dataset component constructed by
// a visual design environment sets it, and nothing clears it again. While
// it is set, cursors may create missing in-memory tables and an empty field
// list is tolerated. A running application never sets it. Any thread may
// read or write it.
#pragma once

#include <atomic>

extern std::atomic<bool> DesignMode;
