// Keeps a connection to the X display open until the process that started this
// one, the CTest run, ends. An X server resets when its last client leaves and
// drops every client that connects meanwhile before its set-up is done: SDL then
// falls back to a driver that shows nothing, and the test fails for want of a
// display. The tests come and go in parallel and often leave an Xvfb started
// without -noreset with no client for a moment; with this one there, it never
// resets during the run.
#include <X11/Xlib.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Claims the name for this process and those it forks, as long as one of them
// lives; false when another process holds it.
bool claim(const std::string& name) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Abstract: no file to remove, gone with the last process that holds it.
    const std::size_t length = name.copy(address.sun_path + 1, sizeof address.sun_path - 1);
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    return s >= 0 && bind(s, reinterpret_cast<const sockaddr*>(&address),
                          static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length)) == 0;
}

}  // namespace

int main() {
    const pid_t parent = getppid();
    const char* name = std::getenv("DISPLAY");
    // A run with --repeat starts this test again; one connection is enough for it.
    if (!claim("quorla display keeper " + std::to_string(parent) + " " + (name ? name : ""))) return 0;
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::puts("no display to keep open");
        return 0;
    }
    // glibc 2.36 declares pidfd_open without C linkage.
    const int run = static_cast<int>(syscall(SYS_pidfd_open, parent, 0));
    if (run < 0) {
        std::perror("can't watch the test run");
        return 1;
    }
    // The first process ends at once, so that the tests can start; the second
    // keeps the connection, away from the run's output pipes, which CTest reads
    // to the end.
    const pid_t keeper = fork();
    if (keeper != 0) _exit(keeper < 0 ? 1 : 0);
    setsid();
    const int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd) dup2(null, fd);
    close(null);

    pollfd watched[2] = {{run, POLLIN, 0}, {ConnectionNumber(display), POLLIN, 0}};
    while (poll(watched, 2, -1) > 0 && watched[0].revents == 0) {
        // What every client gets, such as a new keyboard mapping, is read and
        // dropped; a server that goes away ends this process in Xlib.
        while (XPending(display) > 0) {
            XEvent ignored;
            XNextEvent(display, &ignored);
        }
    }
    XCloseDisplay(display);
    return 0;
}
