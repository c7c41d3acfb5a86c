// A client process of the host tests: opens the device at the socket given, says so on standard
// output, then holds a read pending until it is ended from outside.
#include <cstdio>
#include <exception>

#include "device_file.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SOCKET\n", argv[0]);
        return 2;
    }
    try {
        const auto file = zntr::client::DeviceFile::Open(argv[1]);
        std::printf("opened\n");
        std::fflush(stdout);
        const zntr::client::Completion read = file->Read(64);
        std::printf("read completed 0x%08X\n", static_cast<unsigned>(read.status));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
