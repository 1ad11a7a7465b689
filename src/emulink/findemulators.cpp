// SPDX-License-Identifier: MIT
// The emulator search: which of the instances "Ezusb-0" to "Ezusb-3" can be opened.
#include "emulink/findemulators.h"

#include <algorithm>

std::vector<int> FindEmulators(CUsbTransport& transport, std::vector<STransferStatus>* refused)
{
    std::vector<int> found;
    for (int i = 0; i < kSearchedInstances; ++i) {
        CDeviceHandle handle;
        const STransferStatus status = transport.Open(SDeviceSelector::Index(static_cast<unsigned>(i)), handle);
        if (status.Ok())
            found.push_back(i);
        else if (refused && status.eError != ETransferError::kNoDevice)
            refused->push_back(status);
    }
    return found;
}

std::string NoDriverMessage(const std::vector<STransferStatus>& refused)
{
    std::string message = kMsgNoDriver;
    std::vector<std::string> causes;
    for (const STransferStatus& status : refused) {
        std::string cause = DescribeCause(status);
        // libusb failing to start refuses every instance alike: say it once.
        if (!cause.empty() && std::find(causes.begin(), causes.end(), cause) == causes.end())
            causes.push_back(std::move(cause));
    }
    for (const std::string& cause : causes)
        message += "\n" + cause;
    return message;
}

std::string SearchFailedMessage(const std::vector<STransferStatus>& refused)
{
    // libusb not starting says nothing of an emulator being there.
    std::vector<STransferStatus> attached;
    for (const STransferStatus& status : refused)
        if (status.eError != ETransferError::kNoLibusb)
            attached.push_back(status);
    if (attached.empty())
        return NoDriverMessage(refused);
    std::string message = kMsgCouldNotOpen;
    std::vector<std::string> causes;
    for (const STransferStatus& status : attached) {
        std::string cause = DescribeCause(status);
        if (!cause.empty() && std::find(causes.begin(), causes.end(), cause) == causes.end())
            causes.push_back(std::move(cause));
    }
    for (const std::string& cause : causes)
        message += "\n" + cause;
    return message;
}
