// minimal_round_trips DEVICE
//
// The floor for the download benchmark: the same 524288 one-byte round
// trips as a download, in the plainest poll/read/write loop, against the
// same emulated unit. Prints the seconds the round trips took.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace {

constexpr int kRoundTrips = 524288;

bool round_trip(int fd, unsigned char byte) {
    if (::write(fd, &byte, 1) != 1) {
        return false;
    }
    pollfd ready{fd, POLLIN, 0};
    unsigned char answer = 0;
    return ::poll(&ready, 1, 1000) == 1 && ::read(fd, &answer, 1) == 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: minimal_round_trips DEVICE\n");
        return 2;
    }
    const int fd = ::open(argv[1], O_RDWR | O_NOCTTY);
    termios line{};
    if (fd < 0 || ::tcgetattr(fd, &line) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    ::cfmakeraw(&line);
    ::cfsetspeed(&line, B38400);
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &line);

    if (!round_trip(fd, 'P')) {
        std::fprintf(stderr, "no acknowledge\n");
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    for (int address = 0; address < kRoundTrips; ++address) {
        if (!round_trip(fd, static_cast<unsigned char>(address))) {
            std::fprintf(stderr, "no answer at address %d\n", address);
            return 1;
        }
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%.3f\n", took.count());
    return 0;
}
