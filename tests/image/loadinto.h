// SPDX-License-Identifier: MIT
// Loading into plain byte vectors, for tests that compare whole images: the image a load makes
// starts as `bytes` (so that a failed load shows it left them alone) and is copied back.
#pragma once

#include "image/imageloader.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

template <typename Load>
ImageLoadResult LoadIntoBytes(std::vector<std::uint8_t>& bytes, LoadDiagnostics* diagnostics, Load load)
{
    CRomImage image;
    std::copy_n(bytes.begin(), std::min(bytes.size(), kRomImageSize), image.Data());
    const ImageLoadResult r = load(image);
    std::copy_n(image.Data(), std::min(bytes.size(), kRomImageSize), bytes.begin());
    if (diagnostics && r.ok)
        diagnostics->Append(image.Diagnostics());
    return r;
}

inline ImageLoadResult LoadInto(const std::string& path, const ImageLoadOptions& options,
                                std::vector<std::uint8_t>& bytes, LoadDiagnostics* diagnostics = nullptr)
{
    return LoadIntoBytes(bytes, diagnostics, [&](CRomImage& image) { return LoadImage(path, options, image); });
}

inline ImageLoadResult LoadFdInto(int fd, const std::string& name, const ImageLoadOptions& options,
                                  std::vector<std::uint8_t>& bytes, LoadDiagnostics* diagnostics = nullptr)
{
    return LoadIntoBytes(bytes, diagnostics,
                         [&](CRomImage& image) { return LoadImageFromFd(fd, name, options, image); });
}
