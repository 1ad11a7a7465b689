// The emulator search: which of the instances "Ezusb-0" to "Ezusb-3" can be opened.
#pragma once

#include <vector>

#include "emulink/usbtransport.h"

inline constexpr int kSearchedInstances = 4;
inline constexpr const char* kMsgNoDriver = "Could not find Driver! \nPlease Check the connection";

// Probes each instance by opening and at once closing it; returns the numbers that answered, ascending.
std::vector<int> FindEmulators(CUsbTransport& transport);
