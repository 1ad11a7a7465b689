// SPDX-License-Identifier: MIT
// The emulator search: which of the instances "Ezusb-0" to "Ezusb-3" can be opened.
#pragma once

#include <string>
#include <vector>

#include "emulink/usbtransport.h"

inline constexpr int kSearchedInstances = 4;
inline constexpr const char* kMsgNoDriver = "Could not find Driver! \nPlease Check the connection";

// Probes each instance by opening and at once closing it; returns the numbers that answered, ascending.
// `refused` (if given) gets the status of every probe that failed for more than absence: a device
// there that may not be opened, one held by another program, libusb not starting...
std::vector<int> FindEmulators(CUsbTransport& transport, std::vector<STransferStatus>* refused = nullptr);

// The search's message for no emulator found: the fixed text, then one line for each distinct cause.
std::string NoDriverMessage(const std::vector<STransferStatus>& refused);

// The search's message when it found no emulator it could open: "Could not open the Device" with
// the cause when one is attached but refused (busy, no access...), the no-driver message when
// none is there at all.
std::string SearchFailedMessage(const std::vector<STransferStatus>& refused);
