// write, read and verify for a 16-bit target: two emulators, even bytes on the first, odd on the second.
#include "cli.h"
#include "commands.h"
#include "device.h"
#include "streams.h"
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
    SPairSide(CLinkMessages& sink, std::string dev, std::uint32_t romSize)
        : device(std::move(dev)), transport(OpenTransport(sink, device)), rom(sink, nullptr)
    {
        rom.SetRomSize(romSize);
        rom.SetTransport(transport.get());
    }
    std::string device;
    std::unique_ptr<CUsbTransport> transport;
    CRomSession rom;
};

struct SPair {
    SPair(const std::pair<std::string, std::string>& devices, std::uint32_t size)
        : romSize(size), even(sink, devices.first, size), odd(sink, devices.second, size)
    {
    }
    std::uint32_t romSize;
    CLinkMessages sink;
    SPairSide even, odd;
};

// Loads FILE ("-": standard input) into `image`; false when it could not be read (said on standard error).
bool LoadPairImage(const std::string& file, int format, std::uint8_t fill, std::string_view command, CRomSession& image,
                   std::string& name, Io& io)
{
    std::string error;
    const std::optional<CInput> input = CInput::Open(file, error);
    if (!input) {
        io.err << "tarvexctl " << command << ": " << error << '\n';
        return false;
    }
    const ImageLoadResult loaded = image.Load(input->Path(), format, fill);
    if (!loaded.ok) {
        io.err << "tarvexctl " << command << ": " << input->Named(loaded.message) << '\n';
        return false;
    }
    name = input->Name();
    return true;
}

// Uploads both ROMs and interleaves them into `image` (2 x romSize bytes); the exit code of a failure.
int UploadPair(SPair& pair, std::string_view command, std::vector<std::uint8_t>& image, Io& io)
{
    for (SPairSide* side : {&pair.even, &pair.odd}) {
        side->rom.Fill(0);
        const EEmuResult result = side->rom.Upload();
        pair.sink.Print(command, io.err);
        if (result != EEmuResult::kOk) {
            io.err << "tarvexctl " << command << ": emulator " << side->device << " could not be read\n";
            return ExitOf(result);
        }
    }
    image.assign(2 * static_cast<std::size_t>(pair.romSize), 0);
    JoinPair(pair.even.rom.Buffer(), pair.odd.rom.Buffer(), pair.romSize, image.data());
    return kExitOk;
}

}  // namespace

void CheckPairSize(std::uint32_t romSize)
{
    if (2 * static_cast<std::size_t>(romSize) > kRomImageSize)
        throw UsageError("a pair of 27C080 needs a 2 MiB image, and images hold 1 MiB (use 27C040 or smaller)");
}

int WritePair(const std::pair<std::string, std::string>& devices, const std::string& file, std::uint32_t romSize,
              int format, std::uint8_t fill, bool bVerify, bool bQuiet, Io& io)
{
    CheckPairSize(romSize);
    SPair pair(devices, romSize);
    CRomSession loader(pair.sink, nullptr);
    std::string name;
    if (!LoadPairImage(file, format, fill, "write", loader, name, io))
        return kExitFile;
    // Past the ROM's end a block carries the fill byte.
    std::memset(pair.even.rom.Buffer(), fill, kRomImageSize);
    std::memset(pair.odd.rom.Buffer(), fill, kRomImageSize);
    SplitPair(loader.Buffer(), romSize, pair.even.rom.Buffer(), pair.odd.rom.Buffer());
    for (SPairSide* side : {&pair.even, &pair.odd}) {
        // "0" bytes read: nothing is taken back from an editor, the image goes as it is.
        const SDownloadResult result = side->rom.Download("0", nullptr);
        pair.sink.Print("write", io.err);
        if (result.eResult != EEmuResult::kOk) {
            io.err << "tarvexctl write: emulator " << side->device << " did not get its half of the image\n";
            return ExitOf(result.eResult);
        }
    }
    if (!bVerify)
        return kExitOk;
    std::vector<std::uint8_t> back;
    if (const int failed = UploadPair(pair, "write", back, io))
        return failed;
    return ReportComparison({loader.Buffer(), back.size()}, back, "write", name, bQuiet, false, io.err);
}

int VerifyPair(const std::pair<std::string, std::string>& devices, const std::string& file, std::uint32_t romSize,
               int format, std::uint8_t fill, bool bQuiet, bool bJson, Io& io)
{
    CheckPairSize(romSize);
    SPair pair(devices, romSize);
    CRomSession loader(pair.sink, nullptr);
    std::string name;
    if (!LoadPairImage(file, format, fill, "verify", loader, name, io))
        return kExitFile;
    std::vector<std::uint8_t> back;
    if (const int failed = UploadPair(pair, "verify", back, io))
        return failed;
    return ReportComparison({loader.Buffer(), back.size()}, back, "verify", name, bQuiet, bJson, io.out);
}

int ReadPair(const std::pair<std::string, std::string>& devices, const std::string& out, std::uint32_t romSize, Io& io)
{
    CheckPairSize(romSize);
    std::string error;
    if (!CheckOutput(out, error)) {
        io.err << "tarvexctl read: " << error << '\n';
        return kExitFile;
    }
    SPair pair(devices, romSize);
    std::vector<std::uint8_t> image;
    if (const int failed = UploadPair(pair, "read", image, io))
        return failed;  // a partial image is not written
    if (!WriteOutput(out, image, error)) {
        io.err << "tarvexctl read: " << error << '\n';
        return kExitFile;
    }
    return kExitOk;
}

}  // namespace tarvexctl
