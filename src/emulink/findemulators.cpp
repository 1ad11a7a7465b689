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

namespace {

// `text`, then one line for each distinct cause: libusb failing to start refuses every
// instance alike, and is said once.
std::string WithCauses(std::string text, const std::vector<STransferStatus>& statuses)
{
    std::vector<std::string> causes;
    for (const STransferStatus& status : statuses) {
        std::string cause = DescribeCause(status);
        if (!cause.empty() && std::find(causes.begin(), causes.end(), cause) == causes.end())
            causes.push_back(std::move(cause));
    }
    for (const std::string& cause : causes)
        text += "\n" + cause;
    return text;
}

}  // namespace

std::string NoDriverMessage(const std::vector<STransferStatus>& refused)
{
    return WithCauses(kMsgNoDriver, refused);
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
    return WithCauses(kMsgCouldNotOpen, attached);
}
