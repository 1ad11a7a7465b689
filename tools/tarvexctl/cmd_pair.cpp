// SPDX-License-Identifier: MIT
// write, read and verify for a 16-bit target: two emulators, even bytes on the first, odd on the second.
#include "cli.h"
#include "commands.h"
#include "device.h"
#include "streams.h"
#include "toolload.h"

#include "session/pair.h"

#include <memory>
#include <vector>

namespace tarvexctl {
namespace {

// The two emulators of a pair over their own transports, and what they say.
struct SPairLink {
    SPairLink(std::string_view command, Io& io, const std::pair<SDeviceChoice, SDeviceChoice>& d, std::uint32_t romSize)
        : link(command, io), devices{d.first, d.second}, even(link.Transport(d.first)), odd(link.Transport(d.second)),
          pair(link.Sink(), *even, *odd, romSize)
    {
    }
    // The exit code of a failed step, said with the emulator it concerns.
    int Finish(const SPairResult& result, const char* done, const char* after)
    {
        const int side = result.nSide < 0 ? 0 : result.nSide;
        const int code = link.Finish(result.eResult, pair.Side(side).LastReport(), devices[side], done, after);
        link.Say("it was emulator " + devices[side].sText + (side == 0 ? " (even bytes)" : " (odd bytes)") +
                 " of the pair");
        return code;
    }

    CToolLink link;
    SDeviceChoice devices[2];
    std::unique_ptr<CUsbTransport> even, odd;
    CRomPair pair;
};

}  // namespace

void CheckPairSize(std::uint32_t romSize)
{
    if (!PairFits(romSize))
        throw UsageError("a pair of 27C080 needs a 2 MiB image, and images hold 1 MiB (use 27C040 or smaller)");
}

int WritePair(const std::pair<SDeviceChoice, SDeviceChoice>& devices, const std::string& file,
              const SLoadChoice& choice, bool bVerify, Io& io)
{
    CheckPairSize(choice.romSize);
    SPairLink p("write", io, devices, choice.romSize);
    CRomImage image(choice.fill);
    if (const int code = LoadFile(file, choice, 2 * choice.romSize, image, "write", io, 2); code != kExitOk)
        return code;
    p.pair.Split(image);
    // Both emulators are held for the download and its read-back.
    const CRomPair::CHold hold(p.pair);
    if (!hold.Ok())
        return p.Finish({EEmuResult::kNoDevice, hold.FailedSide()}, nullptr, nullptr);
    if (const SPairResult r = p.pair.Download(); r.eResult != EEmuResult::kOk)
        return p.Finish(r, "written", "the pair now holds a mix of the old and the new image");
    p.link.Flush();
    if (!bVerify)
        return kExitOk;
    SVerifyResult back;
    if (const SPairResult r = p.pair.Verify(image, back); r.eResult != EEmuResult::kOk)
        return p.Finish(r, "read", "nothing was compared");
    p.link.Flush();
    return ReportComparison(back.diff, image.Window(back.back.size()), back.back, "write", image.Source(),
                            choice.bQuiet, false, io.err);
}

int VerifyPair(const std::pair<SDeviceChoice, SDeviceChoice>& devices, const std::string& file,
               const SLoadChoice& choice, bool bJson, Io& io)
{
    CheckPairSize(choice.romSize);
    SPairLink p("verify", io, devices, choice.romSize);
    CRomImage image(choice.fill);
    if (const int code = LoadFile(file, choice, 2 * choice.romSize, image, "verify", io, 2); code != kExitOk)
        return code;
    SVerifyResult back;
    if (const SPairResult r = p.pair.Verify(image, back); r.eResult != EEmuResult::kOk)
        return p.Finish(r, "read", "nothing was compared");
    p.link.Flush();
    return ReportComparison(back.diff, image.Window(back.back.size()), back.back, "verify",
                            bJson ? file : image.Source(), choice.bQuiet, bJson, io.out);
}

int ReadPair(const std::pair<SDeviceChoice, SDeviceChoice>& devices, const std::string& out, std::uint32_t romSize,
             const ImageWriteOptions& format, Io& io)
{
    CheckPairSize(romSize);
    std::string error;
    if (!CheckOutput(out, error)) {
        io.err << "tarvexctl read: " << error << '\n';
        return kExitFile;
    }
    SPairLink p("read", io, devices, romSize);
    std::vector<std::uint8_t> image;
    if (const SPairResult r = p.pair.Upload(image); r.eResult != EEmuResult::kOk)
        return p.Finish(r, "read", "nothing was written to OUT");  // a partial image is not written
    p.link.Flush();
    if (!WriteImage(out, image, format, error)) {
        io.err << "tarvexctl read: " << error << '\n';
        return kExitFile;
    }
    return kExitOk;
}

}  // namespace tarvexctl
