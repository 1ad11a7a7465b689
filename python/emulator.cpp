// SPDX-License-Identifier: MIT
// tarvex.find, tarvex.open and tarvex.Emulator: the core's ROM session over the USB transport,
// one emulator or the two of a 16-bit pair, with the GIL released for every transfer.
#include "module.h"

#include "emulink/emuprotocol.h"
#include "emulink/findemulators.h"
#include "emulink/romtypes.h"
#include "emulink/usbtransport.h"
#include "image/imagediff.h"
#include "session/blocksync.h"
#include "session/pair.h"
#include "session/romsession.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace tarvexpy {
namespace {

constexpr const char* kMixed = "the emulator now holds a mix of the old and the new image";

// The link's messages of one operation, each distinct text once, for the exception that follows.
class CMessages : public CMessageSink {
public:
    void ShowMessage(void*, const std::string& text) override
    {
        if (std::find(m_texts.begin(), m_texts.end(), text) == m_texts.end())
            m_texts.push_back(text);
    }
    void Clear() { m_texts.clear(); }
    std::string Text() const
    {
        std::string text;
        for (const std::string& t : m_texts)
            text += (text.empty() ? "" : "\n") + t;
        return text;
    }

private:
    std::vector<std::string> m_texts;
};

struct SDevice {
    std::string sText;  // as given, for messages
    SDeviceSelector selector;
};

// An emulator as open() and pair= take it: None (emulator 0), a number, or the text --device takes.
SDevice DeviceOf(py::handle device)
{
    if (device.is_none())
        return {"0", SDeviceSelector::Index(0)};
    if (py::isinstance<py::int_>(device) && !py::isinstance<py::bool_>(device)) {
        const long long n = device.cast<long long>();
        if (n < 0)
            RaiseValueError("emulator numbers start at 0, not " + std::to_string(n));
        return {std::to_string(n), SDeviceSelector::Index(static_cast<unsigned>(n))};
    }
    if (!py::isinstance<py::str>(device))
        throw py::type_error("an emulator is a number, \"port:BUS-PORT\" or \"serial:SERIAL\"");
    const std::string text = device.cast<std::string>();
    bool bAmbiguous = false;
    const std::optional<SDeviceSelector> selector = SDeviceSelector::Parse(text, &bAmbiguous);
    if (bAmbiguous) {
        const std::string number = std::to_string(std::strtoul(text.c_str(), nullptr, 10));
        RaiseValueError("'" + text + "' reads as emulator number " + number + " and as a serial number: give " +
                        number + " for the number or \"serial:" + text + "\" for the serial number");
    }
    if (!selector)
        RaiseValueError("'" + text + "' names no emulator (use a number, \"port:BUS-PORT\" such as \"port:1-4.2\", "
                        "or \"serial:SERIAL\")");
    return {text, *selector};
}

std::string UsbIdText(const SUsbId& id)
{
    char text[10];
    std::snprintf(text, sizeof text, "%04x:%04x", id.nVendor, id.nProduct);
    return text;
}

std::string Hex(std::uint64_t v)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
    return text;
}

std::vector<SUsbId> Ids()
{
    std::string warning;
    std::vector<SUsbId> ids = UsbIdsFromEnvironment(&warning);
    if (!warning.empty() && PyErr_WarnEx(PyExc_RuntimeWarning, warning.c_str(), 1) != 0)
        throw py::error_already_set();
    return ids;
}

// How an operation ended, kept until the GIL is back to raise.
struct SOutcome {
    EEmuResult eResult = EEmuResult::kOk;
    SOperationReport report;
    std::string text;     // the exception's message
    std::string refusal;  // set: RomTooSmall with this text, nothing was sent
    std::string badValue; // set: ValueError with this text, nothing was sent
    std::string warning;  // set: a Python warning
    std::vector<SDiffRange> differences;
    bool bMismatch = false;
};

py::list BlockList(const std::vector<std::uint32_t>& blocks)
{
    py::list list;
    for (const std::uint32_t b : blocks)
        list.append(b);
    return list;
}

class CEmulator {
public:
    CEmulator(std::vector<SDevice> devices, std::vector<SUsbId> ids) : m_devices(std::move(devices)), m_ids(std::move(ids))
    {
        for (const SDevice& device : m_devices) {
            m_transports.push_back(std::make_unique<CUsbTransport>(m_ids));
            m_transports.back()->SelectDevice(device.selector);
        }
        if (m_devices.size() == 2)
            m_pair = std::make_unique<CRomPair>(m_sink, *m_transports[0], *m_transports[1], kDefaultRomSize);
        else
            m_rom = std::make_unique<CRomSession>(m_sink, nullptr);
        if (m_rom) {
            m_rom->SetTransport(m_transports[0].get());
            m_rom->SetRomSize(kDefaultRomSize);
        }
        ResetSync();
    }

    // Opens every emulator once and lets it go: a missing one raises here, not at the first write.
    void Probe()
    {
        Run([&](SOutcome& o) { Hold(o); });
    }

    py::object Rom() const { return py::str(std::string(kRomTypes[static_cast<std::size_t>(m_nRomIndex)].name)); }

    void SetRom(py::handle rom)
    {
        const int index = RomIndexOf(rom);
        if (Sides() == 2 && !PairFits(RomSizeOfIndex(index)))
            RaiseValueError("a pair of 27C080 needs a 2 MiB image, and images hold 1 MiB (use 27C040 or smaller)");
        Run([&](SOutcome& o) {
            const auto claims = Hold(o);
            if (claims.empty())
                return;
            for (int n = 0; n < Sides(); ++n) {
                const std::uint32_t before = Side(n).RomSize();
                const EEmuResult r = Side(n).ChangeRomType(index);
                if (r != EEmuResult::kOk) {
                    Side(n).SetRomSize(before);
                    if (n == 1)
                        Side(0).SetRomSize(before);
                    // One side may have the new size: neither is known any more.
                    ResetSync();
                    Fail(o, r, Side(n).LastReport(), n, nullptr, nullptr);
                    return;
                }
            }
            m_nRomIndex = index;
            m_bRomSet = true;
            ResetSync();
        });
    }

    void Write(const CRomImage& image, bool bVerify)
    {
        CRomImage copy(image);
        Run([&](SOutcome& o) {
            if (!Fits(copy, o))
                return;
            Place(copy);
            const auto claims = Hold(o);
            if (claims.empty())
                return;
            for (int n = 0; n < Sides(); ++n)
                if (const EEmuResult r = Side(n).Download(); r != EEmuResult::kOk) {
                    ForgetAll();
                    Fail(o, r, Side(n).LastReport(), n, "written", kMixed);
                    return;
                }
            for (int n = 0; n < Sides(); ++n)
                m_sync[static_cast<std::size_t>(n)].Sent(Side(n).Buffer());
            if (bVerify) {
                std::vector<SDiffRange> differences;
                ReadBack(copy, o, true, differences);
            }
        });
    }

    py::object WriteChanged(const CRomImage& image)
    {
        CRomImage copy(image);
        std::vector<std::vector<std::uint32_t>> blocks;
        Run([&](SOutcome& o) {
            if (!Fits(copy, o))
                return;
            Place(copy);
            bool bAny = false;
            for (int n = 0; n < Sides(); ++n) {
                blocks.push_back(m_sync[static_cast<std::size_t>(n)].Changed(Side(n).Buffer()));
                bAny = bAny || !blocks.back().empty();
            }
            if (!bAny)
                return;
            SendBlocks(blocks, o);
        });
        return Blocks(blocks);
    }

    py::object Patch(std::uint32_t address, const py::buffer& data)
    {
        const py::buffer_info info = data.request();
        if (info.ndim != 1 || info.itemsize != 1 || info.strides[0] != 1)
            throw py::type_error("patch takes contiguous bytes (bytes, bytearray, memoryview)");
        const std::string bytes(static_cast<const char*>(info.ptr), static_cast<std::size_t>(info.size));
        std::vector<std::vector<std::uint32_t>> blocks;
        Run([&](SOutcome& o) {
            const std::uint64_t end = static_cast<std::uint64_t>(address) + bytes.size();
            if (end > Window()) {
                o.badValue = "patch: " + std::to_string(bytes.size()) + " bytes at " + Hex(address) +
                            " reach beyond the " + std::to_string(Window()) + " bytes of the " + RomText();
                return;
            }
            if (bytes.empty())
                return;
            const auto claims = Hold(o);
            if (claims.empty())
                return;
            if (Sides() == 1)
                PatchOne(address, bytes, blocks, o);
            else
                PatchPair(address, bytes, blocks, o);
        });
        return Blocks(blocks);
    }

    CRomImage Read()
    {
        CRomImage image(0x00);
        Run([&](SOutcome& o) {
            const auto claims = Hold(o);
            if (claims.empty())
                return;
            std::vector<std::uint8_t> joined;
            if (Sides() == 1) {
                if (const EEmuResult r = m_rom->Upload(); r != EEmuResult::kOk) {
                    ForgetAll();
                    Fail(o, r, m_rom->LastReport(), 0, "read", nullptr);
                    return;
                }
                const std::span<const std::uint8_t> window = m_rom->Window();
                joined.assign(window.begin(), window.end());
            } else if (const SPairResult r = m_pair->Upload(joined); r.eResult != EEmuResult::kOk) {
                ForgetAll();
                Fail(o, r.eResult, Side(r.nSide).LastReport(), r.nSide, "read", nullptr);
                return;
            }
            // What was read is what the emulator holds: the next write_changed or patch builds on it.
            for (int n = 0; n < Sides(); ++n)
                m_sync[static_cast<std::size_t>(n)].Sent(Side(n).Buffer());
            std::memcpy(image.Data(), joined.data(), joined.size());
            image.MarkSet(0, joined.size());
            image.SetBytesRead(joined.size());
            image.SetSource(Sides() == 1 ? "emulator " + m_devices[0].sText
                                         : "the pair " + m_devices[0].sText + "," + m_devices[1].sText);
        });
        return image;
    }

    py::list Verify(const CRomImage& image)
    {
        CRomImage copy(image);
        std::vector<SDiffRange> differences;
        Run([&](SOutcome& o) {
            if (!Fits(copy, o))
                return;
            const auto claims = Hold(o);
            if (claims.empty())
                return;
            ReadBack(copy, o, false, differences);
        });
        return RangeList(differences);
    }

    void SetRunState(bool bRun)
    {
        Each([bRun](CRomSession& side) { return side.SetRunState(bRun); });
    }
    void Reset()
    {
        Each([](CRomSession& side) { return side.Reset(); });
    }

    void SetProgress(py::object progress)
    {
        if (!progress.is_none() && !PyCallable_Check(progress.ptr()))
            throw py::type_error("progress takes a callable (position, range), or None");
        m_progress = std::move(progress);
    }
    py::object Progress() const { return m_progress; }

    // Holds every emulator until the matching Release, so that the operations between share one
    // claim: no other program can come between them. Holds nest.
    void Hold()
    {
        Run([&](SOutcome& o) {
            if (m_nHolds++ > 0)
                return;
            m_held = Hold(o);
            if (m_held.empty())
                m_nHolds = 0;
        });
    }
    void Release()
    {
        py::gil_scoped_release nogil;
        std::lock_guard lock(m_mutex);
        if (m_nHolds > 0 && --m_nHolds == 0)
            m_held.clear();
    }

    void Close()
    {
        py::gil_scoped_release nogil;
        std::lock_guard lock(m_mutex);
        m_bClosed = true;
        m_nHolds = 0;
        m_held.clear();  // before the transports they hold
        m_pair.reset();
        m_rom.reset();
        m_transports.clear();
    }
    bool Closed() const { return m_bClosed; }

    std::string Device() const
    {
        return Sides() == 1 ? m_devices[0].sText : m_devices[0].sText + "," + m_devices[1].sText;
    }
    bool IsPair() const { return Sides() == 2; }
    std::uint32_t Window() const { return Sides() * kRomTypes[static_cast<std::size_t>(m_nRomIndex)].nSize; }

    std::string Repr() const
    {
        return std::string("<tarvex.Emulator ") + (IsPair() ? "pair " : "") + Device() + ", " +
               std::string(kRomTypes[static_cast<std::size_t>(m_nRomIndex)].name) + (m_bClosed ? ", closed>" : ">");
    }

private:
    int Sides() const { return static_cast<int>(m_devices.size()); }
    CRomSession& Side(int n) { return m_pair ? m_pair->Side(n) : *m_rom; }

    std::string RomText() const
    {
        return std::string(kRomTypes[static_cast<std::size_t>(m_nRomIndex)].name) + (IsPair() ? " pair" : "");
    }

    void ResetSync()
    {
        m_sync.clear();
        for (int n = 0; n < Sides(); ++n)
            m_sync.emplace_back(kRomTypes[static_cast<std::size_t>(m_nRomIndex)].nSize);
    }
    void ForgetAll()
    {
        for (CBlockSync& sync : m_sync)
            sync.Forget();
    }

    // Runs `op` without the GIL and with the emulator to itself; raises what it left in the outcome.
    template <typename Op>
    void Run(Op op)
    {
        if (m_bClosed)
            RaiseValueError("the Emulator is closed");
        m_progressError.reset();
        SOutcome o;
        {
            py::gil_scoped_release nogil;
            std::lock_guard lock(m_mutex);
            if (!m_bClosed) {
                m_sink.Clear();
                const ProgressFn progress = MakeProgress();
                for (int n = 0; n < Sides(); ++n)
                    Side(n).SetProgress(progress);
                op(o);
                for (int n = 0; n < Sides(); ++n)
                    Side(n).SetProgress(nullptr);
            }
        }
        if (m_bClosed)
            RaiseValueError("the Emulator is closed");
        if (!o.refusal.empty())
            RaiseRomTooSmall(o.refusal);
        if (!o.badValue.empty())
            RaiseValueError(o.badValue);
        if (o.eResult != EEmuResult::kOk)
            RaiseEmulatorError(o.eResult, o.report, o.text, Device());
        if (m_progressError) {
            m_progressError->restore();
            m_progressError.reset();
            throw py::error_already_set();
        }
        if (o.bMismatch)
            RaiseVerifyError(o.text, o.differences);
        if (!o.warning.empty() && PyErr_WarnEx(PyExc_UserWarning, o.warning.c_str(), 1) != 0)
            throw py::error_already_set();
    }

    // The callback with the GIL taken for the call alone. One that raises is called no more; its
    // exception follows the operation.
    ProgressFn MakeProgress()
    {
        return [this](std::uint32_t position, std::uint32_t range) {
            py::gil_scoped_acquire gil;
            if (m_progress.is_none() || m_progressError)
                return;
            try {
                m_progress(position, range);
            } catch (py::error_already_set& e) {
                m_progressError = std::move(e);
            }
        };
    }

    // Holds every emulator of the operation; empty (and the failure in `o`) when one cannot be opened.
    std::vector<std::unique_ptr<CEmuClaim>> Hold(SOutcome& o)
    {
        std::vector<std::unique_ptr<CEmuClaim>> claims;
        for (int n = 0; n < Sides(); ++n) {
            claims.push_back(std::make_unique<CEmuClaim>(*m_transports[static_cast<std::size_t>(n)]));
            if (!Side(n).Opened(*claims.back())) {
                Fail(o, EEmuResult::kNoDevice, Side(n).LastReport(), n, nullptr, nullptr);
                claims.clear();
                break;
            }
        }
        return claims;
    }

    // tarvexctl's rule: data beyond the default ROM type's size is refused until the type is set,
    // and beyond a type that was set it is said, as the loader's warning says it.
    bool Fits(const CRomImage& image, SOutcome& o) const
    {
        std::uint64_t extent = image.BytesRead();
        if (const std::vector<SAddressRange> set = image.SetRanges(); !set.empty())
            extent = std::max<std::uint64_t>(extent, set.back().nEnd + 1ull);
        if (extent <= Window())
            return true;
        const std::string name = image.Source().empty() ? std::string("the image") : image.Source();
        const std::string where = name + " holds data up to " + Hex(extent - 1) + ", beyond the " +
                                  std::to_string(Window()) + " bytes of the ";
        if (m_bRomSet) {
            o.warning = where + RomText() + "; only those are sent";
            return true;
        }
        o.refusal = where + "default ROM type " + RomText();
        const SRomType* fits = nullptr;
        for (const SRomType& type : kRomTypes)
            if (static_cast<std::uint64_t>(type.nSize) * Sides() >= extent &&
                type.nSize * static_cast<std::size_t>(Sides()) <= kRomImageSize) {
                fits = &type;
                break;
            }
        o.refusal += fits ? ": set rom = \"" + std::string(fits->name) + "\" first" : ", and no ROM type holds it";
        return false;
    }

    // Each side's image becomes what is to be sent: the image, or its half of a pair.
    void Place(const CRomImage& image)
    {
        if (m_pair)
            m_pair->Split(image);
        else
            m_rom->Image() = image;
    }

    void SendBlocks(const std::vector<std::vector<std::uint32_t>>& blocks, SOutcome& o)
    {
        const auto claims = Hold(o);
        if (claims.empty()) {
            ForgetAll();
            return;
        }
        for (int n = 0; n < Sides(); ++n)
            if (const EEmuResult r = Side(n).WriteBlocks(blocks[static_cast<std::size_t>(n)]);
                r != EEmuResult::kOk) {
                ForgetAll();
                Fail(o, r, Side(n).LastReport(), n, "written", kMixed);
                return;
            }
        for (int n = 0; n < Sides(); ++n)
            m_sync[static_cast<std::size_t>(n)].Sent(Side(n).Buffer());
    }

    // One emulator: the blocks that hold the bytes, read back first when what it holds is not known.
    void PatchOne(std::uint32_t address, const std::string& bytes, std::vector<std::vector<std::uint32_t>>& blocks,
                  SOutcome& o)
    {
        CBlockSync& sync = m_sync[0];
        const bool bKnown = sync.Known();
        const std::vector<std::uint32_t> holding = BlocksHolding(address, static_cast<std::uint32_t>(bytes.size()));
        if (!bKnown)
            if (const EEmuResult r = m_rom->ReadBlocks(holding); r != EEmuResult::kOk) {
                Fail(o, r, m_rom->LastReport(), 0, "read", "nothing was written");
                return;
            }
        std::memcpy(m_rom->Buffer() + address, bytes.data(), bytes.size());
        m_rom->Image().MarkSet(address, bytes.size());
        blocks.push_back(bKnown ? sync.Changed(m_rom->Buffer()) : holding);
        if (blocks[0].empty())
            return;
        if (const EEmuResult r = m_rom->WriteBlocks(blocks[0]); r != EEmuResult::kOk) {
            sync.Forget();
            Fail(o, r, m_rom->LastReport(), 0, "written", kMixed);
            return;
        }
        if (bKnown)
            sync.Sent(m_rom->Buffer());
    }

    // A pair: both ROMs read back when they are not known, then the blocks the patch changes.
    void PatchPair(std::uint32_t address, const std::string& bytes, std::vector<std::vector<std::uint32_t>>& blocks,
                   SOutcome& o)
    {
        std::vector<std::uint8_t> joined;
        if (!m_sync[0].Known() || !m_sync[1].Known()) {
            if (const SPairResult r = m_pair->Upload(joined); r.eResult != EEmuResult::kOk) {
                ForgetAll();
                Fail(o, r.eResult, Side(r.nSide).LastReport(), r.nSide, "read", "nothing was written");
                return;
            }
            for (int n = 0; n < 2; ++n)
                m_sync[static_cast<std::size_t>(n)].Sent(Side(n).Buffer());
        }
        CRomImage image(Side(0).Image().FillByte());
        JoinPair(Side(0).Buffer(), Side(1).Buffer(), m_pair->RomSize(), image.Data());
        std::memcpy(image.Data() + address, bytes.data(), bytes.size());
        Place(image);
        for (int n = 0; n < 2; ++n)
            blocks.push_back(m_sync[static_cast<std::size_t>(n)].Changed(Side(n).Buffer()));
        if (!blocks[0].empty() || !blocks[1].empty())
            SendBlocks(blocks, o);
    }

    // Reads the ROM back and compares it with `image`: every differing range goes to
    // `differences`. With `bMustMatch` a difference is an error, and what the emulator holds is
    // no longer known.
    void ReadBack(const CRomImage& image, SOutcome& o, bool bMustMatch, std::vector<SDiffRange>& differences)
    {
        SVerifyResult back;
        std::span<const std::uint8_t> wanted;
        CRomSession single(m_sink, nullptr);
        if (Sides() == 1) {
            // A session of its own, so that what this Emulator last wrote stays as it is.
            single.SetTransport(m_transports[0].get());
            single.SetRomSize(m_rom->RomSize());
            single.SetProgress(MakeProgress());
            single.Image() = image;
            back = single.Verify();
            if (back.eResult != EEmuResult::kOk) {
                Fail(o, back.eResult, single.LastReport(), 0, "read", "nothing was compared");
                return;
            }
            wanted = single.Window();
        } else {
            if (const SPairResult r = m_pair->Verify(image, back); r.eResult != EEmuResult::kOk) {
                Fail(o, r.eResult, Side(r.nSide).LastReport(), r.nSide, "read", "nothing was compared");
                return;
            }
            wanted = image.Window(back.back.size());
        }
        // Every range, not only the first the session keeps.
        differences = CompareImages(wanted, back.back, SIZE_MAX).ranges;
        if (bMustMatch && !differences.empty()) {
            ForgetAll();
            const SImageDiff diff = CompareImages(wanted, back.back, 0);
            o.bMismatch = true;
            o.differences = differences;
            const SDiffRange& first = differences.front();
            o.text = "the emulator's ROM differs from " + (image.Source().empty() ? "the image" : image.Source()) +
                     " after the write: " + std::to_string(diff.nBytes) + " of " + std::to_string(wanted.size()) +
                     " bytes differ in " + std::to_string(diff.nRanges) +
                     (diff.nRanges == 1 ? " range" : " ranges") + ", the first at " + Hex(first.nStart) + " (" +
                     Hex(back.back[first.nStart]) + " where " + Hex(wanted[first.nStart]) + " was sent)";
        }
    }

    template <typename Step>
    void Each(Step step)
    {
        Run([&](SOutcome& o) {
            const auto claims = Hold(o);
            if (claims.empty())
                return;
            for (int n = 0; n < Sides(); ++n)
                if (const EEmuResult r = step(Side(n)); r != EEmuResult::kOk) {
                    Fail(o, r, Side(n).LastReport(), n, nullptr, nullptr);
                    return;
                }
        });
    }

    // The failure's message: what the link said, then what tarvexctl adds (what is attached when
    // the emulator asked for is not; how far a transfer got; which emulator of a pair).
    void Fail(SOutcome& o, EEmuResult result, const SOperationReport& report, int side, const char* done,
              const char* after)
    {
        o.eResult = result;
        o.report = report;
        o.text = m_sink.Text();
        const SDevice& device = m_devices[static_cast<std::size_t>(side < 0 ? 0 : side)];
        if (result == EEmuResult::kNoDevice && report.failure.eError == ETransferError::kNoDevice) {
            o.text += "\nno emulator matches " + device.sText + " (" + device.selector.Describe() + ")";
            const SEmulatorList list = CUsbTransport(m_ids).ListEmulators();
            o.text += list.emulators.empty() ? "; none is attached" : "; attached:";
            for (const SEmulatorInfo& e : list.emulators)
                o.text += "\n  " + std::to_string(e.nIndex) + "  port:" + e.sPortPath + "  " + UsbIdText(e.id) + "  " +
                          (e.sSerial.empty() ? std::string("-") : "serial:" + e.sSerial);
        }
        if (result == EEmuResult::kTransferFailed && done && report.nBlocks > 0 &&
            report.nBlocksDone < report.nBlocks)
            o.text += "\n" + std::to_string(report.nBlocksDone) + " of " + std::to_string(report.nBlocks) +
                      " blocks " + done + (after ? "; " : "") + (after ? after : "");
        if (Sides() == 2)
            o.text += "\nit was emulator " + device.sText + (side == 1 ? " (odd bytes)" : " (even bytes)") +
                      " of the pair";
    }

    py::object Blocks(const std::vector<std::vector<std::uint32_t>>& blocks) const
    {
        if (Sides() == 1)
            return BlockList(blocks.empty() ? std::vector<std::uint32_t>{} : blocks[0]);
        return py::make_tuple(BlockList(blocks.size() > 0 ? blocks[0] : std::vector<std::uint32_t>{}),
                              BlockList(blocks.size() > 1 ? blocks[1] : std::vector<std::uint32_t>{}));
    }

    std::mutex m_mutex;  // one operation at a time; taken after the GIL is let go
    std::vector<SDevice> m_devices;
    std::vector<SUsbId> m_ids;
    CMessages m_sink;
    std::vector<std::unique_ptr<CUsbTransport>> m_transports;
    std::unique_ptr<CRomSession> m_rom;  // one emulator: its image is what it was last sent
    std::unique_ptr<CRomPair> m_pair;    // a pair: each side's image is what that side was last sent
    std::vector<CBlockSync> m_sync;      // per emulator
    std::vector<std::unique_ptr<CEmuClaim>> m_held;  // Hold()'s claims; destroyed before the transports
    int m_nHolds = 0;
    int m_nRomIndex = kDefaultRomType;
    bool m_bRomSet = false;
    std::atomic<bool> m_bClosed{false};
    py::object m_progress = py::none();
    std::optional<py::error_already_set> m_progressError;
};

// What Emulator.hold() returns: the hold as a context manager.
class CHeld {
public:
    explicit CHeld(py::object emulator) : m_emulator(std::move(emulator)) {}
    py::object Enter()
    {
        m_emulator.cast<CEmulator&>().Hold();
        m_bHeld = true;
        return m_emulator;
    }
    void Exit()
    {
        if (m_bHeld)
            m_emulator.cast<CEmulator&>().Release();
        m_bHeld = false;
    }

private:
    py::object m_emulator;
    bool m_bHeld = false;
};

py::list Find()
{
    const std::vector<SUsbId> ids = Ids();
    SEmulatorList list;
    {
        py::gil_scoped_release nogil;
        list = CUsbTransport(ids).ListEmulators();
    }
    if (!list.status.Ok())
        RaiseEmulatorError(EEmuResult::kNoDevice, SOperationReport{0, 0, list.status}, NoDriverMessage({list.status}),
                           "");
    py::list result;
    for (const SEmulatorInfo& e : list.emulators)
        result.append(Types().emulator(e.nIndex, e.sPortPath, UsbIdText(e.id),
                                       e.sSerial.empty() ? py::object(py::none()) : py::object(py::str(e.sSerial)),
                                       e.open.Ok(),
                                       e.open.Ok() ? py::object(py::none())
                                                   : py::object(py::str(TransferErrorName(e.open.eError)))));
    return result;
}

std::unique_ptr<CEmulator> Open(py::handle device, py::handle pair, py::handle rom, py::object progress)
{
    std::vector<SDevice> devices;
    if (!pair.is_none()) {
        if (!device.is_none())
            RaiseValueError("device and pair cannot be given together");
        const py::sequence two = py::reinterpret_borrow<py::sequence>(pair);
        if (!py::isinstance<py::sequence>(pair) || py::isinstance<py::str>(pair) || two.size() != 2)
            RaiseValueError("pair takes two emulators, e.g. pair=(0, 1)");
        devices = {DeviceOf(two[0]), DeviceOf(two[1])};
        if (devices[0].selector == devices[1].selector)
            RaiseValueError("pair names " + devices[0].sText + " twice; a pair takes two different emulators");
    } else {
        devices = {DeviceOf(device)};
    }
    auto emulator = std::make_unique<CEmulator>(std::move(devices), Ids());
    emulator->SetProgress(std::move(progress));
    if (rom.is_none())
        emulator->Probe();
    else
        emulator->SetRom(rom);
    return emulator;
}

}  // namespace

void BindEmulator(py::module_& m)
{
    m.def("find", &Find, R"(Every attached emulator, as `tarvexctl find` lists them.

Returns a list of EmulatorInfo(index, port, id, serial, usable, reason):
index is the number open() takes, port the USB port path ("1-4.2"), id the
USB id ("0547:2131"), serial the serial number or None; an emulator that
cannot be used has usable False and the reason ("busy", "access denied").)");

    m.def("open", &Open, py::arg("device") = py::none(), py::kw_only(), py::arg("pair") = py::none(),
          py::arg("rom") = py::none(), py::arg("progress") = py::none(),
          R"(Opens an emulator and returns an Emulator (a context manager).

device: None (emulator 0), a number as find() gives it, "port:1-4.2" (stays
the same when other emulators come and go) or "serial:A1B2"; a plain port path
or serial number works too. pair=(a, b): a 16-bit target with two ROM sockets,
even image bytes on a, odd on b. rom: sets Emulator.rom at once. progress: as
Emulator.progress.

The emulator is opened once to see that it is there, then held only during
each operation. Raises NotFound, Busy or AccessDenied.)");

    py::class_<CEmulator>(m, "Emulator", R"(An emulator (or a pair) and what it was last sent.

Every operation holds the emulator from its first transfer to its last (no
other program can slip anything in between) and runs without the GIL. A
failed one raises NotFound, Busy, AccessDenied or TransferError with the cause.
After a failed transfer, what the emulator holds counts as unknown: the next
write_changed sends every block.)")
        .def_property("rom", &CEmulator::Rom, &CEmulator::SetRom,
                      R"(The ROM type ("27C64" until set). Setting it (a name such as "27C256" or an
index 0 to 7) sends the ROM size command and makes the transfers cover that
size; for a pair each emulator is a ROM of that type.)")
        .def("write", &CEmulator::Write, py::arg("image"), py::arg("verify") = false,
             R"(Downloads the blocks that cover the ROM size (for a pair: even bytes to the
first emulator, odd to the second). verify=True reads the ROM back under the
same hold and raises VerifyError when it differs. An image with data beyond the
ROM size raises RomTooSmall while `rom` was never set (nothing is sent);
after `rom` was set, that data is left out with a warning.)")
        .def("write_changed", &CEmulator::WriteChanged, py::arg("image"),
             R"(Sends only the 32 KiB blocks whose ROM bytes differ from what this Emulator
last wrote (every block while that is unknown) and returns their indices,
ascending; for a pair a tuple of two lists. No changed block: nothing is sent.)")
        .def("read", &CEmulator::Read,
             "Uploads the ROM (a pair: both, interleaved) and returns it as an Image of the ROM size.")
        .def("verify", &CEmulator::Verify, py::arg("image"),
             "Reads the ROM back and returns the ranges where it differs from `image`, as Range(start, end) with "
             "both ends included; [] when it holds the image.")
        .def("patch", &CEmulator::Patch, py::arg("addr"), py::arg("data"),
             R"(Rewrites the bytes from `addr` on with `data` and returns the blocks sent.

Only blocks that hold those bytes go out, the rest of each as this Emulator
last wrote it; when it knows what the emulator holds, only those whose bytes
the patch changes. When it does not know, it reads back first: one emulator
those blocks alone (its next write_changed still sends everything), a pair
both ROMs whole (which it then knows).)")
        .def(
            "run", [](CEmulator& e) { e.SetRunState(true); }, "Tells the emulator to run the target.")
        .def(
            "stop", [](CEmulator& e) { e.SetRunState(false); }, "Tells the emulator to stop the target.")
        .def("reset", &CEmulator::Reset, "Tells the emulator to reset the target.")
        .def(
            "hold", [](py::object self) { return CHeld(std::move(self)); },
            R"(A context manager that holds the emulator (both of a pair) from its start to its
end, as tarvexctl's watch holds it for a cycle: the operations inside share one
claim, so no other program can send anything between them, and they skip
opening the emulator each. Raises Busy (and the like) on entering.

    with emu.hold():
        emu.stop()
        emu.write_changed(img)
        emu.run()
        emu.reset())")
        .def_property("progress", &CEmulator::Progress, &CEmulator::SetProgress,
                      R"(None, or a callable(position, range) called at the start of a block transfer
(0, n), after each block and at the end (n, n): once per emulator of a pair.
It runs with the GIL taken for the call alone; an exception from it stops its
calls and is raised when the operation ends.)")
        .def_property_readonly("device", &CEmulator::Device, "The emulator as given to open() (\"a,b\" for a pair).")
        .def_property_readonly("is_pair", &CEmulator::IsPair, "True for the two emulators of a 16-bit pair.")
        .def_property_readonly("closed", &CEmulator::Closed, "True after close().")
        .def("close", &CEmulator::Close, "Lets go of the emulator; any further operation raises ValueError.")
        .def("__enter__", [](CEmulator& e) -> CEmulator& { return e; }, py::return_value_policy::reference)
        .def("__exit__", [](CEmulator& e, py::handle, py::handle, py::handle) { e.Close(); })
        .def("__repr__", &CEmulator::Repr);

    py::class_<CHeld>(m, "Hold", "Emulator.hold()'s context manager.")
        .def("__enter__", &CHeld::Enter)
        .def("__exit__", [](CHeld& h, py::handle, py::handle, py::handle) { h.Exit(); });
}

}  // namespace tarvexpy
