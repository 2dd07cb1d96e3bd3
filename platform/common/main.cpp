// The process entry point: the program itself starts at WinMain. Before it
// does, the process is made safe to run in whatever state it was started.
#include "platform/win32.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <new>
#include <sys/resource.h>
#include <unistd.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand);

namespace {

// A launcher may start the program with standard streams closed. The X
// connection or a file would then take their numbers, and whatever a
// library writes to standard error would land in it.
void openMissingStandardStreams() {
    for (int stream = 0; stream <= 2; ++stream) {
        if (fcntl(stream, F_GETFD) != -1 || errno != EBADF) continue;
        int opened = open("/dev/null", stream == 0 ? O_RDONLY : O_WRONLY);
        if (opened != stream && opened >= 0) close(opened);  // only the lowest free number will do
    }
}

// Only async-signal-safe calls from here on: they run in signal handlers.
void say(const char* text) {
    ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

void sayNumber(unsigned long value) {
    char digits[24];
    int length = 0;
    do digits[sizeof digits - 1 - length++] = char('0' + value % 10);
    while ((value /= 10) && length < int(sizeof digits) - 1);
    ssize_t ignored = write(STDERR_FILENO, digits + sizeof digits - length, size_t(length));
    (void)ignored;
}

// A crash in the OpenGL driver (which fails this way when memory runs out)
// still leaves a word on why, before the signal takes its normal course.
void reportFatalSignal(int signal) {
    say(program_invocation_short_name);
    say(": fatal error: ");
    say(sigdescr_np(signal));
    rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        say(" (the process may use only ");
        sayNumber(limit.rlim_cur / (1024 * 1024));
        say(" MiB of address space, which may be too little for the OpenGL driver)");
    }
    say("\n");
    std::signal(signal, SIG_DFL);
    raise(signal);
}

[[noreturn]] void reportOutOfMemory() {
    say(program_invocation_short_name);
    say(": out of memory\n");
    std::exit(1);
}

}  // namespace

int main() {
    openMissingStandardStreams();
#ifdef __SANITIZE_ADDRESS__
    const bool reportSignals = false;  // the sanitizer reports these itself
#else
    const bool reportSignals = true;
#endif
    if (reportSignals)
        for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) std::signal(signal, reportFatalSignal);
    std::set_new_handler(reportOutOfMemory);
    char commandLine[] = "";
    return WinMain(nullptr, nullptr, commandLine, SW_SHOWDEFAULT);
}
