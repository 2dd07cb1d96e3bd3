// Logical palettes on servers whose visuals take their colours from a
// writable colormap, read back with the server's own colormap queries.
#include "layer_test.h"

#include "app/viewer_state.h"
#include "app/window_proc.h"
#include "surface/surface.h"
#include "support/palette_formats.h"

#include <X11/Xutil.h>

#include <algorithm>
#include <unistd.h>

namespace {

class Palette : public PrivateServerTest {
protected:
    std::vector<std::string> serverArguments() const override { return {"-screen", "0", "1024x768x8"}; }

    // A window of the layer bound to the server's visual of this class.
    HWND windowOfClass(int visualClass, const char* title) {
        HWND window = createRecordingWindow(title, 0, 0, 64, 64, false);
        XVisualInfo pattern = {};
        pattern.screen = DefaultScreen(user);
        int count = 0;
        XVisualInfo* visuals = XGetVisualInfo(user, VisualScreenMask, &pattern, &count);
        int format = 0;
        for (int i = 0; i < count && !format; ++i)
            if (visuals[i].c_class == visualClass) format = i + 1;
        XFree(visuals);
        if (!format || !SetPixelFormat(GetDC(window), format, nullptr)) return nullptr;
        ShowWindow(window, SW_SHOW);
        return window;
    }

    Colormap colormapOf(const char* title) {
        XWindowAttributes attributes;
        XGetWindowAttributes(user, layerWindow(user, title), &attributes);
        return attributes.colormap;
    }

    std::vector<XColor> colours(Colormap colormap, int count) {
        std::vector<XColor> cells(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) cells[size_t(i)].pixel = static_cast<unsigned long>(i);
        XQueryColors(user, colormap, cells.data(), count);
        return cells;
    }

    // The 3-3-2 palette the viewer builds for such a format.
    HPALETTE threeThreeTwo() {
        buffer = paletteBuffer(256);
        LOGPALETTE* logical = reinterpret_cast<LOGPALETTE*>(buffer.data());
        fillPaletteEntries(format332(), logical);
        return CreatePalette(logical);
    }

    // A PseudoColor window "pseudo" that has the focus, with the 3-3-2
    // palette selected in the foreground and realized; null if it cannot be had.
    HWND focusedWindowWithRealizedPalette() {
        HWND window = windowOfClass(PseudoColor, "pseudo");
        if (!window || !pumpUntil([] { return lastRecorded(WM_SETFOCUS) != nullptr; })) return nullptr;
        SelectPalette(GetDC(window), threeThreeTwo(), FALSE);
        RealizePalette(GetDC(window));
        // The server has the layer's colormap installed before another
        // client's comes: otherwise, on a busy machine, ours could come last.
        syncLayer();
        return window;
    }

    const PALETTEENTRY& entry(int i) { return reinterpret_cast<LOGPALETTE*>(buffer.data())->palPalEntry[i]; }

    void expectColormapHoldsThePalette(Colormap colormap) {
        std::vector<XColor> cells = colours(colormap, 256);
        for (int i = 0; i < 256; ++i) {
            ASSERT_EQ(cells[size_t(i)].red, entry(i).peRed * 257) << "cell " << i;
            ASSERT_EQ(cells[size_t(i)].green, entry(i).peGreen * 257) << "cell " << i;
            ASSERT_EQ(cells[size_t(i)].blue, entry(i).peBlue * 257) << "cell " << i;
        }
    }

    std::vector<unsigned char> buffer;
};

TEST_F(Palette, IndexedVisualsAreDescribedAsNeedingAPalette) {
    HWND window = windowOfClass(PseudoColor, "pseudo");
    ASSERT_NE(window, nullptr);
    PIXELFORMATDESCRIPTOR pfd;
    DescribePixelFormat(GetDC(window), GetPixelFormat(GetDC(window)), sizeof pfd, &pfd);
    EXPECT_TRUE(pfd.dwFlags & PFD_NEED_PALETTE);
    EXPECT_EQ(pfd.iPixelType, PFD_TYPE_COLORINDEX);
    HWND direct = windowOfClass(DirectColor, "direct");
    ASSERT_NE(direct, nullptr);
    DescribePixelFormat(GetDC(direct), GetPixelFormat(GetDC(direct)), sizeof pfd, &pfd);
    EXPECT_FALSE(pfd.dwFlags & PFD_NEED_PALETTE) << "a DirectColor visual is a true-colour class";
}

TEST_F(Palette, RealizingPutsTheEntriesIntoTheWindowsColormap) {
    HWND window = windowOfClass(PseudoColor, "pseudo");
    ASSERT_NE(window, nullptr);
    HPALETTE palette = threeThreeTwo();
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(SelectPalette(GetDC(window), palette, FALSE), nullptr);
    EXPECT_EQ(RealizePalette(GetDC(window)), 256u);
    syncLayer();
    Colormap colormap = colormapOf("pseudo");
    EXPECT_NE(colormap, DefaultColormap(user, DefaultScreen(user))) << "the window has a colormap of its own";
    expectColormapHoldsThePalette(colormap);
    EXPECT_EQ(colours(colormap, 256)[0x4A].red, 72 * 257);
    // The system palette changed: top-level windows hear of it, from this window.
    const RecordedMessage* changed = lastRecorded(WM_PALETTECHANGED);
    ASSERT_NE(changed, nullptr);
    EXPECT_EQ(changed->wParam, reinterpret_cast<WPARAM>(window));
    // Realizing the same colours again changes nothing and says nothing.
    recorded.clear();
    RealizePalette(GetDC(window));
    EXPECT_EQ(lastRecorded(WM_PALETTECHANGED), nullptr);
}

TEST_F(Palette, ReRealizingRestoresColoursAnotherClientChanged) {
    HWND window = windowOfClass(PseudoColor, "pseudo");
    ASSERT_NE(window, nullptr);
    HPALETTE palette = threeThreeTwo();
    SelectPalette(GetDC(window), palette, FALSE);
    RealizePalette(GetDC(window));
    syncLayer();
    Colormap colormap = colormapOf("pseudo");
    XColor intruder = {};
    intruder.pixel = 0x4A;
    intruder.red = intruder.green = intruder.blue = 0x1212;  // what 8 bits per channel hold
    intruder.flags = DoRed | DoGreen | DoBlue;
    XStoreColor(user, colormap, &intruder);
    XSync(user, False);
    EXPECT_EQ(colours(colormap, 256)[0x4A].red, 0x1212);
    EXPECT_TRUE(UnrealizeObject(palette));
    SelectPalette(GetDC(window), palette, FALSE);
    RealizePalette(GetDC(window));
    syncLayer();
    expectColormapHoldsThePalette(colormap);
}

TEST_F(Palette, TheFocusedWindowsForegroundPaletteIsInstalled) {
    ASSERT_NE(focusedWindowWithRealizedPalette(), nullptr);
    syncLayer();
    int count = 0;
    Colormap* installed = XListInstalledColormaps(user, DefaultRootWindow(user), &count);
    Colormap ours = colormapOf("pseudo");
    EXPECT_NE(std::find(installed, installed + count, ours), installed + count);
    XFree(installed);
}

TEST_F(Palette, AnotherClientInstallingItsColormapTellsOurWindowsTheSystemPaletteChanged) {
    HWND window = focusedWindowWithRealizedPalette();
    ASSERT_NE(window, nullptr);
    recorded.clear();
    Visual* visual = DefaultVisual(user, DefaultScreen(user));
    Colormap theirs = XCreateColormap(user, DefaultRootWindow(user), visual, AllocNone);
    XInstallColormap(user, theirs);
    XSync(user, False);
    ASSERT_TRUE(pumpUntil([] { return lastRecorded(WM_PALETTECHANGED) != nullptr; }));
    EXPECT_NE(lastRecorded(WM_PALETTECHANGED)->wParam, reinterpret_cast<WPARAM>(window));
}

TEST_F(Palette, DirectColorRampsAreFilledLinearly) {
    HWND window = windowOfClass(DirectColor, "direct");
    ASSERT_NE(window, nullptr);
    syncLayer();
    XWindowAttributes attributes;
    XGetWindowAttributes(user, layerWindow(user, "direct"), &attributes);
    Visual* visual = attributes.visual;
    const unsigned long masks[3] = {visual->red_mask, visual->green_mask, visual->blue_mask};
    for (int channel = 0; channel < 3; ++channel) {
        int shift = __builtin_ctzl(masks[channel]);
        int levels = int(masks[channel] >> shift) + 1;
        ASSERT_GT(levels, 1);
        for (int i = 0; i < levels; ++i) {
            XColor cell = {};
            cell.pixel = static_cast<unsigned long>(i) << shift;
            XQueryColor(user, attributes.colormap, &cell);
            unsigned short value = channel == 0 ? cell.red : channel == 1 ? cell.green : cell.blue;
            EXPECT_NEAR(value, i * 65535 / (levels - 1), 257) << "channel " << channel << " level " << i;
        }
    }
}

TEST_F(Palette, TheViewerBuildsSelectsAndReRealizesItsPaletteOnAnIndexedFormat) {
    HWND window = windowOfClass(PseudoColor, "pseudo");
    ASSERT_NE(window, nullptr);
    viewer = ViewerState{};
    viewer.deviceContext = GetDC(window);
    buildLogicalPalette(viewer.deviceContext);
    ASSERT_NE(viewer.palette, nullptr) << "a format that needs a palette gets one";
    syncLayer();
    Colormap colormap = colormapOf("pseudo");
    // The visual's channels have no bits of their own, so every entry is black.
    for (const XColor& cell : colours(colormap, 256)) ASSERT_EQ(cell.red + cell.green + cell.blue, 0);

    XColor intruder = {};
    intruder.pixel = 9;
    intruder.red = 0xffff;
    intruder.flags = DoRed;
    XStoreColor(user, colormap, &intruder);
    XSync(user, False);
    EXPECT_EQ(windowProc(window, WM_QUERYNEWPALETTE, 0, 0), 1);
    EXPECT_EQ(viewer.idleCallback, idleStep);
    syncLayer();
    EXPECT_EQ(colours(colormap, 256)[9].red, 0) << "re-realized";

    XStoreColor(user, colormap, &intruder);
    XSync(user, False);
    viewer.idleCallback = nullptr;
    windowProc(window, WM_PALETTECHANGED, reinterpret_cast<WPARAM>(window), 0);
    EXPECT_EQ(viewer.idleCallback, nullptr) << "its own change: default processing";
    syncLayer();
    EXPECT_EQ(colours(colormap, 256)[9].red, 0xffff);
    windowProc(window, WM_PALETTECHANGED, 0, 0);
    EXPECT_EQ(viewer.idleCallback, idleStep);
    syncLayer();
    EXPECT_EQ(colours(colormap, 256)[9].red, 0);
}

using TrueColourPalette = PrivateServerTest;

TEST_F(TrueColourPalette, NothingIsBuiltForAFormatThatNeedsNoPalette) {
    HWND window = createRecordingWindow("true", 0, 0, 64, 64, false);
    configurePixelFormat(GetDC(window));
    viewer = ViewerState{};
    buildLogicalPalette(GetDC(window));
    EXPECT_EQ(viewer.palette, nullptr);
}

}  // namespace
