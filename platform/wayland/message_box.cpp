// A message box's window on Wayland: a modal top-level surface of the
// layer's own, drawn into shared memory, a child of its owner's window as
// compositors show dialogs.
#include "platform/wayland/internal.h"
#include "platform/common/message_box.h"
#include "platform/pixels/box_painting.h"

#include "viewporter-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

namespace {

// A box the compositor has not configured by then fails, as the platform's
// call fails when its box cannot be shown, rather than holding the program.
const int boxShownWithinMs = 5000;

class WaylandBoxWindow : public BoxWindow {
public:
    WaylandBoxWindow(HWND ownerWindow, const char* boxCaption) : owner(ownerWindow), caption(boxCaption) {}
    ~WaylandBoxWindow() override;
    ScreenSize screen() override { return waylandScreenSize(); }
    double dpi() override { return waylandScreenDpi(); }
    int pixelsWide() const { return waylandPixels(unitsWide, scale); }
    int pixelsHigh() const { return waylandPixels(unitsHigh, scale); }
    BoxFontOpener fontOpener() override { return openPixelBoxFont; }
    bool show(const BoxLayout& layout) override;
    BoxEvent next() override;
    bool paint(const BoxLayout& layout, const BoxFont* font, bool buttonDown) override;
    void resize(const BoxLayout&) override {}  // the screen's size is only read as the box opens

private:
    HWND owner;
    std::string caption;
    WaylandSurface box;
    wp_viewport* viewport = nullptr;
    int scale = wholeScale;
    int unitsWide = 0, unitsHigh = 0;  // whole surface units, no fewer than the box's pixels take
    int titleHeight = 0;
    int64_t giveUpAt = 0;
    bool painted = false;
    BoxButton closeButton;  // of the box's own title bar
};

bool WaylandBoxWindow::show(const BoxLayout& layout) {
    scale = waylandOutputScale();
    // The box draws its own title bar, with only a close button, as the
    // platform's boxes have it: compositors' decorations and libdecor's offer
    // to minimize a box, and some to maximize it.
    titleHeight = boxTitleHeight(layout);
    // Pixels to spare, never too few: a pixel short would cut the box's frame.
    auto unitsFor = [&](int pixels) {
        int units = waylandUnits(pixels, scale);
        return waylandPixels(units, scale) < pixels ? units + 1 : units;
    };
    unitsWide = unitsFor(layout.width);
    unitsHigh = unitsFor(layout.height + titleHeight);

    box.surface = wl_compositor_create_surface(wayland.compositor);
    viewport = waylandScaleSurface(box.surface, scale);
    waylandSetViewport(viewport, unitsWide, unitsHigh);
    wayland.boxes.push_back(&box);
    giveUpAt = nowMs() + boxShownWithinMs;
    WaylandSurface* parent =
        isLiveWindow(owner) && waylandOf(owner) && owner->visible ? &waylandOf(owner)->shown : nullptr;
    waylandShowSurface(box, caption.c_str(), unitsWide, unitsHigh, parent, false);
    return true;
}

BoxEvent WaylandBoxWindow::next() {
    const Canvas titleArea{nullptr, pixelsWide(), titleHeight, 0};  // its measures, for input
    for (;;) {
        if (!box.configured && nowMs() >= giveUpAt) {
            std::fprintf(stderr, "%s: the compositor did not show the message box \"%s\" within %d s\n",
                         program_invocation_short_name, caption.c_str(), boxShownWithinMs / 1000);
            return BoxEvent{BoxEvent::Kind::gone};
        }
        if (box.configured && !painted) return BoxEvent{BoxEvent::Kind::paint};
        if (box.closeRequested) return BoxEvent{BoxEvent::Kind::close};
        if (!box.keysPressed.empty()) {
            BoxEvent key{BoxEvent::Kind::key};
            key.keySymbol = box.keysPressed.front();
            box.keysPressed.pop_front();
            return key;
        }
        int x = int(box.pointerX * scale / wholeScale), y = int(box.pointerY * scale / wholeScale) - titleHeight;
        bool onCloseButton = y < 0 && insideCloseButton(titleArea, x, y + titleHeight);
        if (std::exchange(box.pointerPressed, false)) {
            if (y < 0 && closeButton.press(onCloseButton)) {
                painted = false;
                continue;
            }
            if (y < 0 && box.toplevel) {
                // The title bar moves the box, as the compositor's own would.
                xdg_toplevel_move(box.toplevel, wayland.seat, wayland.pressSerial);
                continue;
            }
            BoxEvent press{BoxEvent::Kind::press};
            press.x = x;
            press.y = y;
            return press;
        }
        if (box.pointerReleased) {
            box.pointerReleased = false;
            // The close button springs back drawn first.
            bool sprangBack = false;
            if (closeButton.down) {
                if (closeButton.release(onCloseButton, &sprangBack)) return BoxEvent{BoxEvent::Kind::close};
                painted = false;
                continue;
            }
            BoxEvent release{BoxEvent::Kind::release};
            release.x = x;
            release.y = y;
            return release;
        }
        // A connection that fails leaves no box to dismiss.
        if (!waylandDispatch(box.configured ? -1 : giveUpAt)) return BoxEvent{BoxEvent::Kind::gone};
    }
}

bool WaylandBoxWindow::paint(const BoxLayout& layout, const BoxFont* font, bool buttonDown) {
    painted = true;
    return waylandShowPixels(box, pixelsWide(), pixelsHigh(), [&](Canvas& canvas) {
        Canvas titleBar{canvas.pixels, canvas.width, titleHeight, canvas.stride};
        Canvas face{canvas.pixels + titleHeight * canvas.stride, canvas.width, canvas.height - titleHeight,
                    canvas.stride};
        if (titleHeight) paintBoxTitleBar(titleBar, font, caption, closeButton.down);
        // Whole units may leave a pixel or two beyond the layout's face.
        fillRectangle(face, 0, 0, face.width, face.height, 0xff000000 | boxColour::face);
        paintMessageBox(face, layout, font, buttonDown);
    });
}

WaylandBoxWindow::~WaylandBoxWindow() {
    if (!box.surface) return;
    wayland.boxes.erase(std::find(wayland.boxes.begin(), wayland.boxes.end(), &box));
    if (wayland.keyboardFocus == box.surface) wayland.keyboardFocus = nullptr;
    if (wayland.pointerFocus == box.surface) wayland.pointerFocus = nullptr;
    if (wayland.touchFocus == box.surface) wayland.touchFocus = nullptr;
    waylandHideSurface(box);
    if (viewport) wp_viewport_destroy(viewport);
    wl_surface_destroy(box.surface);
    wl_display_flush(wayland.display);
}

}  // namespace

std::unique_ptr<BoxWindow> waylandMessageBoxWindow(HWND owner, const char*, const char* caption) {
    return std::make_unique<WaylandBoxWindow>(owner, caption);
}
