// SPDX-License-Identifier: MIT
// The Intel HEX, S-record and extended Tektronix scanners: any text scans without a write
// outside the buffer, and the pieces it arrives in (the loader reads the file in chunks) change
// nothing in the result, its warnings included.
#include "fuzzcheck.h"

#include "image/imageloader.h"
#include "image/srecord.h"
#include "image/tekhex.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Scan {
    std::uint64_t highest = 0;
    bool ended = false;
    std::vector<std::string> warnings;
};

template <typename Scanner>
Scan ScanInPieces(std::string_view text, std::size_t piece, std::uint8_t* image)
{
    std::memset(image, 0xA5, kRomImageSize);
    LoadDiagnostics diagnostics;
    CImageBuilder builder{RomImage(image, kRomImageSize)};
    Scanner scanner(builder, &diagnostics);
    for (std::size_t at = 0; at < text.size(); at += piece)
        scanner.Feed(text.substr(at, piece));
    scanner.Finish();
    Scan scan{scanner.Highest(), scanner.Ended(), {}};
    for (const LoadWarning& w : diagnostics.Warnings())
        scan.warnings.push_back(FormatLoadWarning("f", w));
    return scan;
}

// Allocated once: a megabyte per run would keep the sanitizers' quarantine busy.
struct Images {
    std::vector<std::uint8_t> whole = std::vector<std::uint8_t>(kRomImageSize);
    std::vector<std::uint8_t> pieces = std::vector<std::uint8_t>(kRomImageSize);
    std::vector<std::uint8_t> untouched = std::vector<std::uint8_t>(kRomImageSize, 0xA5);
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Images images;
    if (size == 0)
        return 0;
    // The first byte picks the piece size and the scanner, the rest is the file.
    const std::size_t piece = data[0] % 97 + 1;
    const int format = data[0] / 97;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    auto scan = [&](std::size_t n, std::uint8_t* image) {
        return format == 1   ? ScanInPieces<CSRecordScanner>(text, n, image)
               : format == 2 ? ScanInPieces<CTekHexScanner>(text, n, image)
                             : ScanInPieces<CIntelHexScanner>(text, n, image);
    };
    const Scan whole = scan(text.size() + 1, images.whole.data());
    const Scan pieces = scan(piece, images.pieces.data());
    FUZZ_CHECK(whole.highest <= kRomImageSize);
    FUZZ_CHECK(whole.highest == pieces.highest);
    FUZZ_CHECK(whole.ended == pieces.ended);
    FUZZ_CHECK(whole.warnings == pieces.warnings);
    FUZZ_CHECK(images.whole == images.pieces);
    // Nothing is written at or above the highest address reported.
    FUZZ_CHECK(std::memcmp(images.whole.data() + whole.highest, images.untouched.data(),
                           kRomImageSize - whole.highest) == 0);
    return 0;
}
