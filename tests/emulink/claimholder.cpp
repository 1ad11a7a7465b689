// SPDX-License-Identifier: MIT
// A second program for the claim tests: claims interface 0 of the first simulated emulator, says
// "claimed" (or libusb's error name) on standard output, and once its standard input ends, ends
// without releasing or closing anything, as a program that exits or is killed would.
#include <libusb.h>
#include <unistd.h>

#include <cstdio>

int main()
{
    libusb_context* ctx = nullptr;
    libusb_device** list = nullptr;
    libusb_device_handle* handle = nullptr;
    int rc = libusb_init(&ctx);
    const ssize_t count = rc == LIBUSB_SUCCESS ? libusb_get_device_list(ctx, &list) : 0;
    libusb_device* emulator = nullptr;
    for (ssize_t i = 0; i < count && !emulator; ++i) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(list[i], &desc) == LIBUSB_SUCCESS && desc.idVendor == 0x0547
            && desc.idProduct == 0x2131)
            emulator = list[i];
    }
    if (rc == LIBUSB_SUCCESS)
        rc = emulator ? libusb_open(emulator, &handle) : LIBUSB_ERROR_NOT_FOUND;
    if (rc == LIBUSB_SUCCESS)
        rc = libusb_claim_interface(handle, 0);
    std::printf("%s\n", rc == LIBUSB_SUCCESS ? "claimed" : libusb_error_name(rc));
    std::fflush(stdout);
    char c;
    while (read(STDIN_FILENO, &c, 1) > 0) {
    }
    _exit(rc == LIBUSB_SUCCESS ? 0 : 1);
}
