// The Intel HEX scanner: any text scans without a write outside the buffer, and the pieces it
// arrives in (the loader reads the file in chunks) change nothing in the result.
#include "fuzzcheck.h"

#include "buffer/imageloader.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

struct Scan {
    std::unique_ptr<std::uint8_t[]> image;
    std::uint64_t highest = 0;
    bool ended = false;
};

Scan ScanInPieces(std::string_view text, std::size_t piece)
{
    Scan s{std::make_unique<std::uint8_t[]>(kRomImageSize), 0, false};
    std::memset(s.image.get(), 0xA5, kRomImageSize);
    CIntelHexScanner scanner(RomImage(s.image.get(), kRomImageSize));
    for (std::size_t at = 0; at < text.size() && !scanner.Ended(); at += piece)
        scanner.Feed(text.substr(at, piece));
    scanner.Finish();
    s.highest = scanner.Highest();
    s.ended = scanner.Ended();
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the piece size, the rest is the file.
    const std::size_t piece = data[0] % 97 + 1;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    const Scan whole = ScanInPieces(text, text.size() + 1);
    const Scan pieces = ScanInPieces(text, piece);
    FUZZ_CHECK(whole.highest <= kRomImageSize);
    FUZZ_CHECK(whole.highest == pieces.highest);
    FUZZ_CHECK(whole.ended == pieces.ended);
    FUZZ_CHECK(std::memcmp(whole.image.get(), pieces.image.get(), kRomImageSize) == 0);
    // Nothing is written at or above the highest address reported.
    const std::uint8_t* const begin = whole.image.get() + whole.highest;
    const std::uint8_t* const end = whole.image.get() + kRomImageSize;
    FUZZ_CHECK(std::all_of(begin, end, [](std::uint8_t b) { return b == 0xA5; }));
    return 0;
}
