// write and read for a 16-bit target: two emulators, even bytes on the first, odd bytes on the second.
#include "cli.h"
#include "device.h"
#include "watchcycle.h"

#include "buffer/imageloader.h"
#include "buffer/romsession.h"
#include "emulink/usbtransport.h"

#include <cstring>
#include <vector>

namespace tarvexctl {
namespace {

int ExitOf(EEmuResult result)
{
    switch (result) {
    case EEmuResult::kOk: return kExitOk;
    case EEmuResult::kNoDevice: return kExitNoEmulator;
    case EEmuResult::kTransferFailed: return kExitTransfer;
    }
    return kExitTransfer;
}

// One emulator of the pair with its own link and image.
struct SPairSide {
    SPairSide(CLinkMessages& sink, const std::string& device, std::uint32_t romSize)
        : transport(OpenTransport(sink, device)), rom(sink, nullptr)
    {
        rom.SetRomSize(romSize);
        rom.SetTransport(transport.get());
    }
    std::unique_ptr<CUsbTransport> transport;
    CRomSession rom;
};

}  // namespace

void CheckPairSize(std::uint32_t romSize)
{
    if (2 * static_cast<std::size_t>(romSize) > kRomImageSize)
        throw UsageError("a pair of 27C080 needs a 2 MiB image, and images hold 1 MiB (use 27C040 or smaller)");
}

int WritePair(const std::pair<std::string, std::string>& devices, const std::string& file, std::uint32_t romSize,
              int format, std::uint8_t fill, Io& io)
{
    CheckPairSize(romSize);
    CLinkMessages sink;
    CRomSession loader(sink, nullptr);
    const ImageLoadResult loaded = loader.Load(file, format, fill);
    if (!loaded.ok) {
        io.err << "tarvexctl write: " << loaded.message << '\n';
        return kExitFile;
    }
    SPairSide even(sink, devices.first, romSize), odd(sink, devices.second, romSize);
    // Past the ROM's end a block carries the fill byte.
    std::memset(even.rom.Buffer(), fill, kRomImageSize);
    std::memset(odd.rom.Buffer(), fill, kRomImageSize);
    SplitPair(loader.Buffer(), romSize, even.rom.Buffer(), odd.rom.Buffer());
    for (SPairSide* side : {&even, &odd}) {
        // "0" bytes read: nothing is taken back from an editor, the image goes as it is.
        const SDownloadResult result = side->rom.Download("0", nullptr);
        sink.Print("write", io.err);
        if (result.eResult != EEmuResult::kOk) {
            io.err << "tarvexctl write: emulator " << (side == &even ? devices.first : devices.second)
                   << " did not get its half of the image\n";
            return ExitOf(result.eResult);
        }
    }
    return kExitOk;
}

int ReadPair(const std::pair<std::string, std::string>& devices, const std::string& out, std::uint32_t romSize, Io& io)
{
    CheckPairSize(romSize);
    CLinkMessages sink;
    SPairSide even(sink, devices.first, romSize), odd(sink, devices.second, romSize);
    for (SPairSide* side : {&even, &odd}) {
        side->rom.Fill(0);
        const EEmuResult result = side->rom.Upload();
        sink.Print("read", io.err);
        if (result != EEmuResult::kOk)
            return ExitOf(result);  // a partial image is not written
    }
    std::vector<std::uint8_t> image(2 * static_cast<std::size_t>(romSize));
    JoinPair(even.rom.Buffer(), odd.rom.Buffer(), romSize, image.data());
    std::string error;
    if (!WriteFileAtomically(out, image, error)) {
        io.err << "tarvexctl read: " << error << '\n';
        return kExitFile;
    }
    return kExitOk;
}

}  // namespace tarvexctl
