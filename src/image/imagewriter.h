// SPDX-License-Identifier: MIT
// Image file writing: the ROM image (or part of it) as Intel HEX, Motorola S-record, extended
// Tektronix or binary.
#pragma once

#include "image/imageloader.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

struct ImageWriteOptions {
    // IntelHex, SRecord, TekHex or Binary; Auto is refused.
    ImageFormat format = ImageFormat::IntelHex;
    // Data bytes per record (1 to 255 for Intel HEX, 1 to 250 for S-records, 1 to 120 for
    // extended Tektronix); 16 or 32 usual.
    unsigned bytesPerRecord = 16;
    // S-record address bytes: 0 picks the fewest that reach the last address (S1/S9 up to
    // 64 KiB, S2/S8 up to 16 MiB, else S3/S7); 2, 3 or 4 ask for at least that many.
    unsigned sRecordAddressBytes = 0;
    // Write an S5 (or S6) record with the number of data records before the end record.
    bool sRecordCount = false;
};

// The options an output file's name suggests: .hex and .ihx Intel HEX; .s19, .s28, .s37
// (with two, three or four address bytes), .srec and .mot S-record; anything else binary.
// The extension's case does not matter.
ImageWriteOptions WriteOptionsForFileName(std::string_view fileName);

// Receives the file's content in pieces; returns false to stop the writing.
using ImageSink = std::function<bool(std::string_view)>;

// Writes data as if it started at address 0. Returns false when the sink stopped it or the
// options are unusable (checked first, before anything reaches the sink).
bool EncodeImage(std::span<const std::uint8_t> data, const ImageWriteOptions& options,
                 const ImageSink& sink);

// Why EncodeImage would refuse the options; empty when they are usable.
std::string CheckWriteOptions(std::span<const std::uint8_t> data, const ImageWriteOptions& options);

// The whole content in memory (a 1 MiB image is about 3 MB of text).
std::string EncodeImageToString(std::span<const std::uint8_t> data, const ImageWriteOptions& options);

struct ImageWriteResult {
    bool ok = false;
    std::string message;  // on failure: names the output and the cause
};

// Writes to an open descriptor (a file, a pipe, standard output). The descriptor stays open.
ImageWriteResult WriteImageToFd(int fd, const std::string& displayName,
                                std::span<const std::uint8_t> data, const ImageWriteOptions& options);

// Puts the encoded data at path with the atomic writer of util/fileutil.h: readers see the old file
// or the new one, never a part. Devices and FIFOs are refused. The message quotes the path.
ImageWriteResult WriteImageFile(const std::string& path, std::span<const std::uint8_t> data,
                                const ImageWriteOptions& options);
