// SPDX-License-Identifier: MIT
// write, read and verify for a 16-bit target: two emulators, even bytes on the first, odd on the second.
#include "cli.h"
#include "commands.h"
#include "device.h"
#include "streams.h"
#include "toolload.h"
#include "watchcycle.h"

#include "image/imageloader.h"
#include "session/romsession.h"
#include "emulink/usbtransport.h"

#include <cstring>
#include <vector>

namespace tarvexctl {
namespace {

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
              const SLoadChoice& choice, bool bVerify, Io& io)
{
    CheckPairSize(romSize);
    SPair pair(devices, romSize);
    CRomSession loader(pair.sink, nullptr);
    SLoaded loaded;
    if (const int code = LoadFile(file, choice, 2 * romSize, loader.Image(), "write", io, loaded); code != kExitOk)
        return code;
    // Past the ROM's end a block carries the fill byte.
    std::memset(pair.even.rom.Buffer(), choice.fill, kRomImageSize);
    std::memset(pair.odd.rom.Buffer(), choice.fill, kRomImageSize);
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
    return ReportComparison({loader.Buffer(), back.size()}, back, "write", loaded.Name(), choice.bQuiet, false, io.err);
}

int VerifyPair(const std::pair<std::string, std::string>& devices, const std::string& file, std::uint32_t romSize,
               const SLoadChoice& choice, bool bJson, Io& io)
{
    CheckPairSize(romSize);
    SPair pair(devices, romSize);
    CRomSession loader(pair.sink, nullptr);
    SLoaded loaded;
    if (const int code = LoadFile(file, choice, 2 * romSize, loader.Image(), "verify", io, loaded); code != kExitOk)
        return code;
    std::vector<std::uint8_t> back;
    if (const int failed = UploadPair(pair, "verify", back, io))
        return failed;
    return ReportComparison({loader.Buffer(), back.size()}, back, "verify", bJson ? file : loaded.Name(), choice.bQuiet,
                            bJson, io.out);
}

int ReadPair(const std::pair<std::string, std::string>& devices, const std::string& out, std::uint32_t romSize,
             const ImageWriteOptions& format, Io& io)
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
    if (!WriteImage(out, image, format, error)) {
        io.err << "tarvexctl read: " << error << '\n';
        return kExitFile;
    }
    return kExitOk;
}

}  // namespace tarvexctl
