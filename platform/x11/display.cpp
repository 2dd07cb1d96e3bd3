// The one X connection of the process and how its failures are reported.
#include "platform/x11/internal.h"
#include "platform/x11/event_filter.h"

#include <X11/XKBlib.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* programName() { return program_invocation_short_name; }

QuietRange* quietRangeOf(unsigned long serial) {
    for (QuietRange& range : x11.quietRanges)
        if (serial >= range.first && (range.open || serial <= range.last)) return &range;
    return nullptr;
}

std::string errorText(Display* display, int code) {
    char text[256];
    XGetErrorText(display, code, text, sizeof text);
    return text;
}

void tellRepeats(Display* display, ErrorKind& kind) {
    if (!kind.repeats) return;
    std::fprintf(stderr, "%s: X error: %s (request %d.%d) %lu more time%s\n", programName(),
                 errorText(display, kind.code).c_str(), kind.request, kind.minor, kind.repeats,
                 kind.repeats == 1 ? "" : "s");
    kind.repeats = 0;
    kind.lastToldMs = nowMs();
}

void tellAllRepeats() {
    for (ErrorKind& kind : x11.errorKinds) tellRepeats(x11.display, kind);
}

// A protocol error is a fault of the request, not of the program's state:
// report it and go on, as the platform's calls report failure by result.
int reportProtocolError(Display* display, XErrorEvent* error) {
    if (QuietRange* range = quietRangeOf(error->serial)) {
        if (range->firstError == Success) range->firstError = error->error_code;
        return 0;
    }
    for (ErrorKind& kind : x11.errorKinds)
        if (kind.code == error->error_code && kind.request == error->request_code && kind.minor == error->minor_code) {
            ++kind.repeats;
            if (nowMs() - kind.lastToldMs >= 1000) tellRepeats(display, kind);
            return 0;
        }
    x11.errorKinds.push_back({error->error_code, error->request_code, error->minor_code, 0, nowMs()});
    std::fprintf(stderr, "%s: X error: %s (request %d.%d, resource 0x%lx)\n", programName(),
                 errorText(display, error->error_code).c_str(), error->request_code, error->minor_code,
                 error->resourceid);
    return 0;
}

// Xlib cannot go on after the connection is gone; end at once and say why,
// without running exit handlers that might talk to the dead server again.
int reportLostConnection(Display*) {
    tellAllRepeats();  // error texts are looked up locally, not asked of the server
    std::fprintf(stderr, "%s: lost the connection to the X server\n", programName());
    std::fflush(stderr);
    _exit(1);
}

// A server that accepts the connection but never answers would leave the
// program waiting with nothing on the screen: it is given this long.
const unsigned connectionPatienceSeconds = 10;
char silentServerMessage[512];

void reportSilentServer(int) {
    ssize_t ignored = write(STDERR_FILENO, silentServerMessage, std::strlen(silentServerMessage));
    (void)ignored;
    _exit(1);
}

// Where Xlib looks for the authority it shows the server, as it names it.
std::string authorityFile() {
    const char* named = std::getenv("XAUTHORITY");
    if (named && *named) return named;
    const char* home = std::getenv("HOME");
    return home && *home ? std::string(home) + "/.Xauthority" : std::string();
}

// Xlib reads the authority file while it connects, with no deadline of its
// own: one that is no regular file (a FIFO no one writes, /dev/zero) is
// read for ever. Missing, it is no authority, for the server to judge.
// Empty when it can be read; otherwise why not.
std::string unreadableAuthority(const std::string& path) {
    struct stat status {};
    if (path.empty() || stat(path.c_str(), &status) != 0) return {};
    if (!S_ISREG(status.st_mode)) return "it is not a regular file";
    if (access(path.c_str(), R_OK) != 0) return std::strerror(errno);
    return {};
}

}  // namespace

// Never destroyed, so that what it holds stays reachable to the end.
X11State& x11 = *new X11State;

Display* x11Display() { return x11.display; }

void x11Connect() {
    if (x11.display) return;
    // A write to a connection the server has closed must fail with EPIPE and
    // reach the lost-connection handler, not kill the process by signal.
    void (*previousPipeHandler)(int) = std::signal(SIGPIPE, SIG_IGN);
    // Connecting and the first round trip prove that the server answers.
    const char* name = std::getenv("DISPLAY");
    std::string authority = authorityFile();
    std::string whyUnreadable = unreadableAuthority(authority);
    if (!whyUnreadable.empty()) {
        std::fprintf(stderr, "%s: cannot read the X authority file \"%s\": %s\n", programName(), authority.c_str(),
                     whyUnreadable.c_str());
        std::exit(1);
    }
    std::snprintf(silentServerMessage, sizeof silentServerMessage,
                  "%s: the X display \"%s\" accepted the connection but did not answer within %u seconds\n",
                  programName(), name ? name : "", connectionPatienceSeconds);
    // The launcher may have blocked or ignored the alarm signal, as some do
    // for their children: for this call it is unblocked and ours.
    struct sigaction onAlarm {}, previousAction {};
    onAlarm.sa_handler = reportSilentServer;
    sigemptyset(&onAlarm.sa_mask);
    sigaction(SIGALRM, &onAlarm, &previousAction);
    sigset_t alarmOnly, previousMask;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    sigprocmask(SIG_UNBLOCK, &alarmOnly, &previousMask);
    alarm(connectionPatienceSeconds);
    Display* connection = XOpenDisplay(nullptr);
    if (connection) XSync(connection, False);
    alarm(0);
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    sigaction(SIGALRM, &previousAction, nullptr);
    if (!connection) {
        // A Wayland compositor named but not usable is said too: either would have done.
        const char* compositor = std::getenv("WAYLAND_DISPLAY");
        bool compositorNamed = compositor && *compositor;
        std::fprintf(stderr, "%s: cannot open the X display %s%s%s%s%s%s\n", programName(),
                     name ? "\"" : "(DISPLAY is not set)", name ? name : "", name ? "\"" : "",
                     compositorNamed ? ", nor use the Wayland compositor \"" : "",
                     compositorNamed ? compositor : "", compositorNamed ? "\"" : "");
        std::exit(1);
    }
    x11.display = connection;
    x11.previousPipeHandler = previousPipeHandler;
    x11.previousErrorHandler = XSetErrorHandler(reportProtocolError);
    x11.previousIOErrorHandler = XSetIOErrorHandler(reportLostConnection);
    const char* names[] = {"WM_PROTOCOLS", "WM_DELETE_WINDOW", "_NET_WM_PING", "_NET_FRAME_EXTENTS",
                           "WM_STATE",     "_NET_WM_STATE",    "_NET_WM_ALLOWED_ACTIONS"};
    Atom interned[7];
    XInternAtoms(connection, const_cast<char**>(names), 7, False, interned);
    x11.atoms =
        LayerAtoms{interned[0], interned[1], interned[2], interned[3], interned[4], interned[5], interned[6]};
    // A held key comes as presses and one release, as the platform's
    // keyboard sends it, not as a release and a press at each repeat.
    Bool repeatsDetectable = False;
    XkbSetDetectableAutoRepeat(connection, True, &repeatsDetectable);
    x11FilterEvents(connection);
    x11WatchMonitors();
    static bool repeatsToldAtExit = std::atexit(tellAllRepeats) == 0;
    (void)repeatsToldAtExit;
}

void x11Terminate() {
    if (!x11.display) return;
    tellAllRepeats();
    x11ReleaseContexts();
    // Closing reads what the server still sends, through the filters, which
    // look the windows up: they go after.
    XCloseDisplay(x11.display);
    x11ResetEventFilter();
    x11ReleaseWindows();
    XSetErrorHandler(x11.previousErrorHandler);
    XSetIOErrorHandler(x11.previousIOErrorHandler);
    std::signal(SIGPIPE, x11.previousPipeHandler);
    x11 = X11State{};
}
int x11Screen() { return DefaultScreen(x11Display()); }

Window x11Root() { return RootWindow(x11Display(), x11Screen()); }

Atom x11Atom(const char* name) { return XInternAtom(x11Display(), name, False); }

const LayerAtoms& x11Atoms() {
    x11Display();
    return x11.atoms;
}

unsigned long x11BeginQuietRequests() {
    Display* display = x11Display();
    // Ranges the server has answered all of are done with.
    unsigned long processed = LastKnownRequestProcessed(display);
    auto& quietRanges = x11.quietRanges;
    quietRanges.erase(std::remove_if(quietRanges.begin(), quietRanges.end(),
                                     [processed](const QuietRange& range) {
                                         return !range.open && range.last <= processed;
                                     }),
                      quietRanges.end());
    unsigned long first = NextRequest(display);
    quietRanges.push_back({first, first, true, Success});
    return first;
}

void x11EndQuietRequests(unsigned long first) {
    for (QuietRange& range : x11.quietRanges)
        if (range.open && range.first == first) {
            range.open = false;
            range.last = NextRequest(x11Display()) - 1;
        }
}

int x11EndCheckedRequests(unsigned long first) {
    XSync(x11Display(), False);
    int error = Success;
    auto& quietRanges = x11.quietRanges;
    for (auto it = quietRanges.begin(); it != quietRanges.end(); ++it)
        if (it->open && it->first == first) {
            error = it->firstError;
            quietRanges.erase(it);
            break;
        }
    return error;
}

