// SPDX-License-Identifier: MIT
// tarvex-sim's preload library, loaded in front of umockdev's: refuses opens of simulated USB
// device nodes that are gone or closed to everyone before umockdev sees them. umockdev's open()
// connects a socket to the device's handler even when the open itself failed, and never closes
// it: every refused open would cost the program a descriptor, and after about 50 umockdev's
// table of wrapped descriptors overflows and it aborts the program.
#undef _FORTIFY_SOURCE
#undef _FILE_OFFSET_BITS
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

typedef int (*OpenFn)(const char*, int, ...);
typedef int (*Open2Fn)(const char*, int);

// 0 to pass the open on; otherwise the errno it fails with. A node with no permission bits at
// all is refused to root as well, as it is to every user without the udev rules.
static int Refusal(const char* path)
{
    static const char prefix[] = "/dev/bus/usb/";
    const char* root = getenv("UMOCKDEV_DIR");
    if (!path || !root || strncmp(path, prefix, sizeof prefix - 1) != 0)
        return 0;
    char node[4096];
    if (snprintf(node, sizeof node, "%s%s", root, path) >= (int)sizeof node)
        return 0;
    const int saved = errno;
    struct stat st;
    if (stat(node, &st) != 0) {
        const int gone = errno;
        errno = saved;
        return gone;
    }
    return (st.st_mode & 07777) == 0 ? EACCES : 0;
}

static void* Next(void** slot, const char* name)
{
    void* fn = __atomic_load_n(slot, __ATOMIC_ACQUIRE);
    if (!fn) {
        fn = dlsym(RTLD_NEXT, name);
        __atomic_store_n(slot, fn, __ATOMIC_RELEASE);
    }
    return fn;
}

#define WRAP_OPEN(name)                                                  \
    int name(const char* path, int flags, ...)                           \
    {                                                                    \
        static void* next;                                               \
        mode_t mode = 0;                                                 \
        if (flags & (O_CREAT | O_TMPFILE)) {                             \
            va_list ap;                                                  \
            va_start(ap, flags);                                         \
            mode = va_arg(ap, mode_t);                                   \
            va_end(ap);                                                  \
        }                                                                \
        const int refusal = Refusal(path);                               \
        if (refusal) {                                                   \
            errno = refusal;                                             \
            return -1;                                                   \
        }                                                                \
        return ((OpenFn)Next(&next, #name))(path, flags, mode);          \
    }

#define WRAP_OPEN2(name)                                                 \
    int name(const char* path, int flags)                                \
    {                                                                    \
        static void* next;                                               \
        const int refusal = Refusal(path);                               \
        if (refusal) {                                                   \
            errno = refusal;                                             \
            return -1;                                                   \
        }                                                                \
        return ((Open2Fn)Next(&next, #name))(path, flags);               \
    }

int __open_2(const char* path, int flags);
int __open64_2(const char* path, int flags);

WRAP_OPEN(open)
WRAP_OPEN(open64)
WRAP_OPEN2(__open_2)
WRAP_OPEN2(__open64_2)
