#include "engine/local/ABSDesignMode.h"

std::atomic<bool> DesignMode{false};
