// SPDX-License-Identifier: MIT
// The message line's RTF reader: any bytes parse, without throwing, into well-formed UTF-8.
#include "fuzzcheck.h"

#include "richtext/rtfreader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view rtf(reinterpret_cast<const char*>(data), size);
    const auto runs = CRtfReader::Parse(rtf);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        FUZZ_CHECK(IsUtf8(runs[i].strText));
        FUZZ_CHECK(IsUtf8(runs[i].strFace));
        FUZZ_CHECK(runs[i].nHalfPoints >= 1 && runs[i].nHalfPoints <= 3276);
        FUZZ_CHECK(!runs[i].strText.empty());
        // Neighbouring runs differ in format, or they would be one.
        if (i > 0)
            FUZZ_CHECK(!runs[i].SameFormat(runs[i - 1]));
    }
    return 0;
}
