// SPDX-License-Identifier: MIT
// Loads an image file with the core loader and writes the 1 MiB image as binary: the Tarvex
// side of compare_loaders.sh for the formats tarvexctl does not read yet.
//   bench_load_image FILE OUT.bin [FILL]
#include "image/imageloader.h"
#include "image/imagewriter.h"

#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_load_image FILE OUT.bin [FILL]\n");
        return 2;
    }
    CRomImage image;
    ImageLoadOptions options;
    options.fill = argc > 3 ? ParseFillByte(argv[3]) : 0xFF;
    const ImageLoadResult r = LoadImage(argv[1], options, image);
    if (!r.ok) {
        std::fprintf(stderr, "%s\n", r.message.c_str());
        return 1;
    }
    for (const LoadWarning& w : image.Diagnostics().Warnings())
        std::fprintf(stderr, "%s\n", FormatLoadWarning(argv[1], w).c_str());
    const int fd = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(argv[2]);
        return 1;
    }
    ImageWriteOptions out;
    out.format = ImageFormat::Binary;
    const ImageWriteResult w = WriteImageToFd(fd, argv[2], image.Bytes(), out);
    ::close(fd);
    if (!w.ok) {
        std::fprintf(stderr, "%s\n", w.message.c_str());
        return 1;
    }
    std::printf("%s %s\n", ImageFormatName(r.format), FormatBytesRead(r.bytesRead).c_str());
    return 0;
}
