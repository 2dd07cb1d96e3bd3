// What a compositor (or an X server) says that no real one says: sizes
// beyond any screen, keymaps whose size is not their file's, a message box
// never configured. The viewer neither dies by a signal nor grows without
// bound: it draws on at a size the layer can draw, or goes on without what
// it was refused, and says so. Under sway, a proxy of the test's own plays
// the compositor, passing on all that sway says but what a case changes.
#include "wayland_test_base.h"  // GoogleTest before Xlib

#include "platform/common/internal.h"
#include "platform/wayland/internal.h"
#include "wayland_proxy.h"

#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sys/mman.h>
#include <unistd.h>

namespace {

struct SizeCase {
    int width, height;
    PixelSize bounded;
};

const SizeCase sizeCases[] = {
    {1280, 1024, {1280, 1024}},
    {3840, 2160, {3840, 2160}},
    {0, -5, {1, 1}},
    {100000, 100, {largestSide, 100}},  // a strip longer than OpenGL draws
    {5120, 2880, {3840, 2160}},         // too many pixels: the same shape, smaller
    {8192, 4096, {4072, 2036}},
    {100000, 100000, {2880, 2880}},
    {INT_MAX, INT_MAX, {2880, 2880}},
};

TEST(SizeBound, TakesSizesOnlyUpToWhatTheLayerDraws) {
    for (const SizeCase& row : sizeCases) {
        PixelSize bounded = boundedPixelSize(row.width, row.height);
        EXPECT_EQ(bounded.width, row.bounded.width) << row.width << "x" << row.height;
        EXPECT_EQ(bounded.height, row.bounded.height) << row.width << "x" << row.height;
        EXPECT_LE(int64_t(bounded.width) * bounded.height, largestArea);
    }
}

// A file in memory with these bytes.
int memoryFile(const std::string& bytes) {
    int file = memfd_create("keymap", MFD_CLOEXEC);
    EXPECT_EQ(write(file, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    return file;
}

struct KeymapCase {
    const char* name;
    bool terminated;     // the text ends with a NUL
    int64_t sizeChange;  // what the size claimed adds to the file's
    int64_t claimed;     // or the size claimed, when not negative
    bool compiles;
};

const KeymapCase keymapCases[] = {
    {"the whole file, its NUL included", true, 0, -1, true},
    {"the whole file without a NUL, to a page's end", false, 0, -1, true},
    {"a size past the end of the file", false, 4096 * 4, -1, false},
    {"a size of zero", true, 0, 0, false},
    {"an enormous size", false, 0, 0xffffffff, false},
};

TEST(KeymapReader, TakesTheKeymapByItsFilesSizeAndRefusesAnyOther) {
    xkb_context* xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    ASSERT_NE(xkb, nullptr);
    xkb_keymap* compiled = xkb_keymap_new_from_names(xkb, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
    ASSERT_NE(compiled, nullptr) << "no keyboard description installed";
    char* text = xkb_keymap_get_as_string(compiled, XKB_KEYMAP_FORMAT_TEXT_V1);
    std::string keymap = text;
    std::free(text);
    xkb_keymap_unref(compiled);
    // To a page's end: the byte after it is past the file, where a
    // reader looking for the NUL would be killed by SIGBUS.
    keymap.resize((keymap.size() / 4096 + 1) * 4096, ' ');
    for (const KeymapCase& row : keymapCases) {
        std::string bytes = keymap;
        if (row.terminated) bytes.back() = '\0';
        int file = memoryFile(bytes);
        int64_t claimed = row.claimed >= 0 ? row.claimed : int64_t(bytes.size()) + row.sizeChange;
        std::string refusal;
        xkb_keymap* read = waylandReadKeymap(xkb, file, uint32_t(claimed), &refusal);
        close(file);
        EXPECT_EQ(read != nullptr, row.compiles) << row.name << ": " << refusal;
        EXPECT_EQ(refusal.empty(), row.compiles) << row.name;
        if (read) xkb_keymap_unref(read);
    }
    xkb_context_unref(xkb);
}

// What the proxy, in a process of its own, counts where the test reads it.
struct ProxyTally {
    std::atomic<int> changed{0};          // messages a case changed or dropped
    std::atomic<int> buffersAttached{0};  // frames the viewer shows
};
ProxyTally& tally = *new (mmap(nullptr, sizeof(ProxyTally), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS,
                               -1, 0)) ProxyTally;

enum class Hostility { none, changed, dropped };

// The keymap's first page only, without its NUL, claimed at `claimed`
// bytes (negative: the size of the whole keymap, as the compositor said).
Hostility keymapClaiming(WireMessage& message, int64_t claimed) {
    if (!message.event || !isMessage(message, wl_keyboard_interface, "keymap")) return Hostility::none;
    char page[4096];
    ssize_t got = pread(message.arguments[1].fd, page, sizeof page, 0);
    message.arguments[1].fd = memoryFile(std::string(page, size_t(std::max<ssize_t>(got, 0))));
    if (claimed >= 0) message.arguments[2].word = uint32_t(claimed);
    return Hostility::changed;
}

Hostility keymapPastItsFile(WireMessage& message) { return keymapClaiming(message, -1); }
Hostility keymapOfSizeZero(WireMessage& message) { return keymapClaiming(message, 0); }
Hostility keymapOfEnormousSize(WireMessage& message) { return keymapClaiming(message, 0xffffffff); }

Hostility toplevelMaximizedHuge(WireMessage& message) {
    if (!message.event || !isMessage(message, xdg_toplevel_interface, "configure")) return Hostility::none;
    message.arguments[0].word = message.arguments[1].word = 100000;
    const uint32_t states[] = {XDG_TOPLEVEL_STATE_MAXIMIZED, XDG_TOPLEVEL_STATE_ACTIVATED};
    message.arguments[2].bytes.assign(reinterpret_cast<const char*>(states), sizeof states);
    return Hostility::changed;
}

// Without xdg-output, the output's mode is the screen's size.
Hostility outputModeHuge(WireMessage& message) {
    if (message.event && isMessage(message, wl_registry_interface, "global") &&
        message.arguments[1].bytes.c_str() == std::string(zxdg_output_manager_v1_interface.name))
        return Hostility::dropped;
    if (!message.event || !isMessage(message, wl_output_interface, "mode")) return Hostility::none;
    message.arguments[1].word = message.arguments[2].word = 100000;
    return Hostility::changed;
}

Hostility outputLogicalSizeHuge(WireMessage& message) {
    if (!message.event || !isMessage(message, zxdg_output_v1_interface, "logical_size")) return Hostility::none;
    message.arguments[0].word = message.arguments[1].word = 100000;
    return Hostility::changed;
}

Hostility outputScaleHuge(WireMessage& message) {
    if (!message.event || !isMessage(message, wl_output_interface, "scale")) return Hostility::none;
    message.arguments[0].word = 1000;
    return Hostility::changed;
}

// The first surface the viewer shows is its notice.
Hostility noticeNeverConfigured(WireMessage& message) {
    static uint32_t notice = 0;
    if (!message.event && !notice && isMessage(message, xdg_wm_base_interface, "get_xdg_surface"))
        notice = message.arguments[0].word;
    bool configure = message.event && isMessage(message, xdg_surface_interface, "configure");
    return configure && message.object == notice ? Hostility::dropped : Hostility::none;
}

// What the layer asks of the compositor, by the ids the viewer gave it.
struct ViewerObjects {
    uint32_t registry = 0, outputName = 0;  // the output's global, as sway names it
    uint32_t output = 0, pointer = 0, mainSurface = 0, mainXdgSurface = 0;
    int toplevels = 0, mainConfigures = 0;
    std::vector<uint32_t> syncsAfterNotice;
    std::set<uint32_t> mainFrames;  // the main window's go-aheads asked for, until their ids are free again
};
// The proxy's own, in its process.
ViewerObjects viewer;

void noteViewerObjects(const WireMessage& message) {
    if (message.event) {
        if (isMessage(message, xdg_surface_interface, "configure") && message.object == viewer.mainXdgSurface)
            ++viewer.mainConfigures;
        if (isMessage(message, wl_display_interface, "delete_id")) viewer.mainFrames.erase(message.arguments[0].word);
        if (isMessage(message, wl_registry_interface, "global") && !viewer.outputName &&
            message.arguments[1].bytes.c_str() == std::string(wl_output_interface.name))
            viewer.outputName = message.arguments[0].word;
        return;
    }
    // The layer's registry is the first; the OpenGL driver makes its own later.
    if (isMessage(message, wl_display_interface, "get_registry") && !viewer.registry)
        viewer.registry = message.arguments[0].word;
    if (isMessage(message, wl_registry_interface, "bind") &&
        message.arguments[1].bytes.c_str() == std::string(wl_output_interface.name) && !viewer.output)
        viewer.output = message.arguments[3].word;
    if (isMessage(message, wl_seat_interface, "get_pointer")) viewer.pointer = message.arguments[0].word;
    if (isMessage(message, xdg_wm_base_interface, "get_xdg_surface") && viewer.toplevels == 1) {
        viewer.mainXdgSurface = message.arguments[0].word;
        viewer.mainSurface = message.arguments[1].word;
    }
    if (isMessage(message, xdg_surface_interface, "get_toplevel")) ++viewer.toplevels;
    if (isMessage(message, wl_display_interface, "sync") && viewer.toplevels > 0)
        viewer.syncsAfterNotice.push_back(message.arguments[0].word);
    if (isMessage(message, wl_surface_interface, "frame") && message.object == viewer.mainSurface)
        viewer.mainFrames.insert(message.arguments[0].word);
}

// Storms while the main window draws, each frame waiting for the
// compositor's go-ahead: they follow its first configure.
bool mainWindowConfigured(const WireMessage& message) {
    return message.event && isMessage(message, xdg_surface_interface, "configure") && viewer.mainConfigures == 1 &&
           message.object == viewer.mainXdgSurface;
}

Hostility outputScaleStorm(WireMessage& message) {
    if (!mainWindowConfigured(message) || !viewer.output) return Hostility::none;
    message.then = {eventOf(viewer.output, wl_output_interface, "scale", {word('i', 1)}),
                    eventOf(viewer.output, wl_output_interface, "done", {})};
    message.thenTimes = 1000000;
    return Hostility::changed;
}

// A monitor plugged in, then the one the window is on taken away, while
// the window draws. The second output is the first again under another
// name: sway is asked to bind the first twice over.
const uint32_t secondOutputName = 0x7fff0001;  // a name sway does not give
Hostility outputReplaced(WireMessage& message) {
    if (!message.event && isMessage(message, wl_registry_interface, "bind") &&
        message.arguments[0].word == secondOutputName) {
        message.arguments[0].word = viewer.outputName;
        return Hostility::changed;
    }
    if (!mainWindowConfigured(message) || !viewer.registry || !viewer.outputName) return Hostility::none;
    WireArgument interface{'s', 0, std::string(wl_output_interface.name) + '\0', -1};
    message.then = {eventOf(viewer.registry, wl_registry_interface, "global",
                            {word('u', secondOutputName), interface, word('u', 3)}),
                    eventOf(viewer.registry, wl_registry_interface, "global_remove", {word('u', viewer.outputName)})};
    message.thenTimes = 1;
    return Hostility::changed;
}

// Enter and leave on the main window, each of which the viewer answers
// with its cursor: more requests than a socket holds, unless the viewer
// waits for the compositor to read them.
Hostility pointerCrossingStorm(WireMessage& message) {
    if (!mainWindowConfigured(message) || !viewer.pointer || !viewer.mainSurface) return Hostility::none;
    uint32_t at = uint32_t(wl_fixed_from_int(10));
    message.then = {eventOf(viewer.pointer, wl_pointer_interface, "enter",
                            {word('u', 1), word('o', viewer.mainSurface), word('f', at), word('f', at)}),
                    eventOf(viewer.pointer, wl_pointer_interface, "leave", {word('u', 2), word('o', viewer.mainSurface)})};
    message.thenTimes = 5000;
    return Hostility::changed;
}

// Once the notice is up, no sync is answered: the OpenGL driver's first
// round trip among them.
Hostility syncUnansweredAfterNotice(WireMessage& message) {
    if (!message.event || !isMessage(message, wl_callback_interface, "done")) return Hostility::none;
    bool sync = std::find(viewer.syncsAfterNotice.begin(), viewer.syncsAfterNotice.end(), message.object) !=
                viewer.syncsAfterNotice.end();
    return sync ? Hostility::dropped : Hostility::none;
}

// The main window is never given a go-ahead, as a minimized window is not:
// it goes on showing frames all the same.
Hostility frameGoAheadsWithheld(WireMessage& message) {
    bool done = message.event && isMessage(message, wl_callback_interface, "done");
    return done && viewer.mainFrames.count(message.object) ? Hostility::dropped : Hostility::none;
}

// The main window's frames are shown, and their go-ahead comes, but no
// buffer is ever let go of.
Hostility buffersNeverReleased(WireMessage& message) {
    bool release = message.event && isMessage(message, wl_buffer_interface, "release");
    return release && viewer.toplevels >= 2 ? Hostility::dropped : Hostility::none;
}

// Some 90 MB is usual; the bound on sizes keeps the largest window's
// buffers under 150 MB.
const long residentLimitKilobytes = 400 * 1024;
// A storm of events grows the viewer by some 50 MB at most, whatever its size.
const long stormLimitKilobytes = 150 * 1024;

enum class Outcome {
    draws,          // the main window shows frame after frame
    drawsNoMore,    // it shows, then its frames stop, the viewer still answering
    endsAtNotice,   // the notice dismissed, the viewer ends with 1
};

struct HostileCase {
    const char* name;
    Hostility (*hostility)(WireMessage&);
    bool keysWork;       // Return and Esc reach the viewer; otherwise the compositor closes its windows
    bool noticeShown;
    const char* said;    // on standard error; empty: nothing
    Outcome outcome = Outcome::draws;
    // At most resident; 0: the bound on sizes, which keeps the largest
    // window's buffers under 150 MB.
    long peakLimitKilobytes = 0;
    int framesShown = 30;  // as the main window draws on, before Esc
};

const HostileCase hostileCases[] = {
    {"KeymapPastTheEndOfItsFile", keymapPastItsFile, false, true, "keymap cannot be used"},
    {"KeymapOfSizeZero", keymapOfSizeZero, false, true, "keymap cannot be used"},
    {"KeymapOfEnormousSize", keymapOfEnormousSize, false, true, "keymap cannot be used"},
    {"ToplevelMaximizedAt100000", toplevelMaximizedHuge, true, true, ""},
    {"OutputModeOf100000", outputModeHuge, true, true, ""},
    {"OutputLogicalSizeOf100000", outputLogicalSizeHuge, true, true, ""},
    {"OutputScaleOf1000", outputScaleHuge, true, true, ""},
    {"NoticeNeverConfigured", noticeNeverConfigured, true, false, "did not show the message box \"vorandile\""},
    {"OutputsComingAndGoing", outputReplaced, true, true, ""},
    {"OutputScaleStorm", outputScaleStorm, true, true, "", Outcome::draws, stormLimitKilobytes},
    {"PointerCrossingStorm", pointerCrossingStorm, true, true, "", Outcome::draws, stormLimitKilobytes},
    {"SyncUnansweredAfterNotice", syncUnansweredAfterNotice, true, true, "did not answer", Outcome::endsAtNotice},
    // A few frames: each waits a quarter of a second for its go-ahead.
    {"FrameGoAheadsWithheld", frameGoAheadsWithheld, true, true, "", Outcome::draws, 0, 8},
    {"BuffersNeverReleased", buffersNeverReleased, true, true, "holds every buffer", Outcome::drawsNoMore},
};

void PrintTo(const HostileCase& row, std::ostream* out) { *out << row.name; }


long peakResidentKilobytes(pid_t process) {
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

class HostileCompositor : public WaylandTestBase, public testing::WithParamInterface<HostileCase> {
protected:
    void TearDown() override {
        closeVirtualPointer(mouse);
        stopWaylandProxy(proxy, session);
        WaylandTestBase::TearDown();
        unlink(errorPath().c_str());
    }
    std::string errorPath() const {
        return testing::TempDir() + "hostile-compositor-errors-" + std::to_string(getpid()) + ".txt";
    }
    ToplevelWindow waitForWindow(const std::string& title) {
        ToplevelWindow found;
        // sway knows the viewer by the proxy's connection.
        EXPECT_TRUE(waitForToplevel(session, [&](const ToplevelWindow& w) {
            return w.pid == proxy.pid && w.title == title && w.focused;
        }, &found)) << "no window \"" << title << "\"; the viewer's errors: " << fileText(errorPath());
        return found;
    }
    // Return or Esc; where keys do not work, the compositor's close after
    // them. sway has a keyboard, and sends its keymap, only once one types.
    void dismiss(const ToplevelWindow& window, const char* key) {
        std::string why;
        EXPECT_TRUE(typeKeys(session, {key}, &why)) << why;
        if (GetParam().keysWork) return;
        EXPECT_TRUE(waitUntil([] { return tally.changed > 0; }, 20000)) << "no keymap came";
        EXPECT_TRUE(closeToplevel(session, window, &why)) << why;
    }

    WaylandProxy proxy;
    VirtualPointer mouse;  // as a desktop has one: the seat offers a pointer
};

TEST_P(HostileCompositor, NeverKillsTheViewerNorGrowsItWithoutBound) {
    const HostileCase& row = GetParam();
    startCompositor(Compositor::sway);
    std::string why;
    ASSERT_TRUE(openVirtualPointer(session, &mouse, &why)) << why;
    tally.changed = 0;
    tally.buffersAttached = 0;
    proxy = startWaylandProxy(session, [&row](WireMessage& message) {
        if (!message.event && isMessage(message, wl_surface_interface, "attach") && message.arguments[0].word)
            ++tally.buffersAttached;
        noteViewerObjects(message);
        Hostility done = row.hostility(message);
        if (done != Hostility::none) ++tally.changed;
        return done != Hostility::dropped;
    });
    ASSERT_GT(proxy.pid, 0) << "no proxy";
    ChildSetup setup;
    setup.errorPath = errorPath();
    setup.environment = {"XDG_RUNTIME_DIR=" + session.directory, "WAYLAND_DISPLAY=" + proxy.name};
    program = spawnCommand({VIEWER_BINARY}, "", setup);

    if (row.noticeShown) dismiss(waitForWindow("vorandile"), "Return");
    if (row.outcome == Outcome::endsAtNotice) {
        // Within the five seconds the layer waits for an answer.
        EXPECT_EQ(waitForExit(program, 20000), 1) << "its errors: " << fileText(errorPath());
        program = -1;
        EXPECT_GT(tally.changed, 0) << "the case never came to pass";
        EXPECT_NE(fileText(errorPath()).find(row.said), std::string::npos) << fileText(errorPath());
        return;
    }
    ToplevelWindow window = waitForWindow("vorandile ");
    ASSERT_FALSE(HasFailure());
    int shown = tally.buffersAttached;
    if (row.outcome == Outcome::draws) {
        // A storm comes as fast as the viewer reads it, which takes a while.
        int frames = row.peakLimitKilobytes ? 120 : row.framesShown;
        EXPECT_TRUE(waitUntil([&] { return tally.buffersAttached >= shown + frames; }, 20000))
            << "frames shown: " << tally.buffersAttached - shown;
    } else {
        EXPECT_TRUE(waitUntil([&] { return fileText(errorPath()).find(row.said) != std::string::npos; }, 20000))
            << "frames shown: " << tally.buffersAttached - shown << "; its errors: " << fileText(errorPath());
    }
    EXPECT_GT(tally.changed, 0) << "the case never came to pass";
    long peak = peakResidentKilobytes(program);
    EXPECT_GT(peak, 0);
    std::printf("%s: peak resident size %ld kB\n", row.name, peak);
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's quarantine keeps freed memory resident on purpose
    EXPECT_LT(peak, row.peakLimitKilobytes ? row.peakLimitKilobytes : residentLimitKilobytes)
        << "kilobytes at most resident";
#endif
    dismiss(window, "Escape");
    EXPECT_EQ(waitForExit(program, 20000), 0) << "its errors: " << fileText(errorPath());
    program = -1;
    std::string said = fileText(errorPath());
    if (*row.said)
        EXPECT_NE(said.find(row.said), std::string::npos) << said;
    else
        EXPECT_EQ(said, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileCompositor, testing::ValuesIn(hostileCases),
                         [](const testing::TestParamInfo<HostileCase>& row) { return std::string(row.param.name); });

}  // namespace
