// The settings store's reader: any file is read as far as it parses, for every
// value the program asks for, and never crashes.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/Exception.h"
#include "core/Registry.h"

namespace {

// The store lives in memory: the fuzzer writes nothing to disk.
int StoreFd() {
    static const int fd = [] {
        const int made = memfd_create("vmk-fuzz-store", MFD_CLOEXEC);
        if (made < 0) std::abort();
        return made;
    }();
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = StoreFd();
    if (ftruncate(fd, 0) != 0) std::abort();
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) std::abort();
        done += static_cast<size_t>(n);
    }
    vmk::TRegistry reg("/proc/self/fd/" + std::to_string(fd));
    reg.SetRootKey(vmk::HKEY_LOCAL_MACHINE);
    try {
        (void)reg.KeyExists("\\Software\\Quorvex");
        if (!reg.KeyExists("\\Software\\Quorvex\\VMK") || !reg.OpenKey("\\Software\\Quorvex\\VMK", false)) return 0;
        (void)reg.GetCurrentPath();
        for (const char* name : {"CoverFile", "FileFix", "SavePath", ""}) {
            try {
                (void)reg.ReadString(name);
            } catch (const vmk::Exception&) {
            }
        }
        for (const char* name : {"PosType", "CoverLeft", "CoverTop", "Transparent", "AutoTrans", "TransColor", "Type",
                                 "JPGQ", "FixType"}) {
            try {
                (void)reg.ValueExists(name);
                (void)reg.ReadInteger(name);
            } catch (const vmk::Exception&) {
            }
        }
    } catch (const vmk::Exception&) {
    }
    return 0;
}
