// The emulator search: which of the instances "Ezusb-0" to "Ezusb-3" can be opened.
#include "emulink/findemulators.h"

#include <string>

std::vector<int> FindEmulators(CUsbTransport& transport)
{
    std::vector<int> found;
    for (int i = 0; i < kSearchedInstances; ++i) {
        CDeviceHandle handle;
        if (transport.OpenDevice("Ezusb-" + std::to_string(i), handle))
            found.push_back(i);
    }
    return found;
}
