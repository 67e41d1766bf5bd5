// first_map: starts a program and prints the milliseconds from just before its
// start to the first top-level window it maps, as "PID MS".
//   first_map TIMEOUT_MS PROGRAM [ARGUMENTS...]
// The window is known by its _NET_WM_PID property. The program keeps running
// (its output goes to /dev/null); exit status 0, 2 when it ended first, 3 on
// timeout, 1 on a usage or display error. Built by bench/client-footprint with
// the system's compiler: c++ -O2 first_map.cpp -lX11
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

double nowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

long windowPid(Display* display, Window window, Atom pidAtom) {
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    unsigned long left = 0;
    unsigned char* data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                           &items, &left, &data) == Success &&
        data != nullptr && items == 1 && format == 32)
        pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
    if (data != nullptr)
        XFree(data);
    return pid;
}

// A window may be gone again before its property is read.
int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s TIMEOUT_MS PROGRAM [ARGUMENTS...]\n", argv[0]);
        return 1;
    }
    const double timeout = std::atof(argv[1]);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "first_map: no display\n");
        return 1;
    }
    XSetErrorHandler(ignoreErrors);
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    const double start = nowMs();
    const pid_t child = fork();
    if (child < 0)
        return 1;
    if (child == 0) {
        close(ConnectionNumber(display));
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    pollfd events{ConnectionNumber(display), POLLIN, 0};
    for (;;) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify &&
                windowPid(display, event.xmap.window, pidAtom) == child) {
                std::printf("%d %.1f\n", static_cast<int>(child), nowMs() - start);
                return 0;
            }
        }
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child)
            return 2;
        if (nowMs() - start > timeout) {
            std::printf("%d -1\n", static_cast<int>(child));
            return 3;
        }
        poll(&events, 1, 20);
    }
}
