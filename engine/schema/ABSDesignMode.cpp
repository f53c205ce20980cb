#include "engine/schema/ABSDesignMode.h"

std::atomic<bool> DesignMode{false};
