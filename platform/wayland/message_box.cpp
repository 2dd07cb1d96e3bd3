// MessageBoxA: a modal top-level surface of the layer's own, drawn into
// shared memory, with the text, an OK button and, for MB_ICONERROR, an
// error mark; a child of its owner's window, as compositors show dialogs.
#include "platform/wayland/internal.h"
#include "platform/common/message_box_layout.h"
#include "platform/wayland/box_painting.h"

#include "xdg-shell-client-protocol.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

// A box the compositor has not configured by then fails, as the platform's
// call fails when its box cannot be shown, rather than holding the program.
const int boxShownWithinMs = 5000;

}  // namespace

int waylandMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    bool errorIcon = (type & 0xF0) == MB_ICONERROR;
    std::unique_ptr<BoxFont> font;
    BoxLayout layout = fitLayout(text, errorIcon, waylandScreenSize(), waylandScreenDpi(), waylandOpenBoxFont, &font);
    const WaylandOutput* output = waylandPrimaryOutput();
    int scale = output ? output->scale : 1;
    // The box draws its own title bar, with only a close button, as the
    // platform's boxes have it: compositors' decorations and libdecor's offer
    // to minimize a box, and some to maximize it.
    int titleHeight = boxTitleHeight(layout);
    // Buffers are whole surface units.
    int unitsWide = (layout.width + scale - 1) / scale, unitsHigh = (layout.height + titleHeight + scale - 1) / scale;

    WaylandSurface box;
    box.surface = wl_compositor_create_surface(wayland.compositor);
    wl_surface_set_buffer_scale(box.surface, scale);
    wayland.boxes.push_back(&box);
    int64_t giveUpAt = nowMs() + boxShownWithinMs;
    WaylandSurface* parent = isLiveWindow(owner) && owner->wayland && owner->visible ? &owner->wayland->shown : nullptr;
    waylandShowSurface(box, caption, unitsWide, unitsHigh, parent, false);

    // Modal: the box takes its own input here; the program's windows get
    // theirs as messages, retrieved once the box is gone.
    BoxButton button;
    bool closeDown = false, painted = false, shown = true;
    const Canvas titleArea{nullptr, unitsWide * scale, titleHeight, 0};  // its measures, for input
    for (;;) {
        if (!box.configured && nowMs() >= giveUpAt) {
            std::fprintf(stderr, "%s: the compositor did not show the message box \"%s\" within %d s\n",
                         program_invocation_short_name, caption, boxShownWithinMs / 1000);
            shown = false;
            break;
        }
        if (box.configured && !painted) {
            shown = waylandShowPixels(box, unitsWide * scale, unitsHigh * scale, [&](Canvas& canvas) {
                Canvas titleBar{canvas.pixels, canvas.width, titleHeight, canvas.stride};
                Canvas face{canvas.pixels + titleHeight * canvas.stride, canvas.width, canvas.height - titleHeight,
                            canvas.stride};
                if (titleHeight) paintBoxTitleBar(titleBar, font.get(), caption, closeDown);
                paintMessageBox(face, layout, font.get(), button.down);
            });
            painted = true;
        }
        if (!shown || box.keyDismissed || box.closeRequested) break;
        int x = int(box.pointerX * scale), y = int(box.pointerY * scale) - titleHeight;
        if (std::exchange(box.pointerPressed, false)) {
            if (y < 0 && insideCloseButton(titleArea, x, y + titleHeight)) {
                closeDown = true;
                painted = false;
            } else if (y < 0 && box.toplevel) {
                // The title bar moves the box, as the compositor's own would.
                xdg_toplevel_move(box.toplevel, wayland.seat, wayland.pressSerial);
            } else if (button.press(layout, x, y)) {
                painted = false;
            }
            continue;
        }
        if (std::exchange(box.pointerReleased, false)) {
            bool sprangBack = false;
            if (button.release(layout, x, y, &sprangBack)) break;
            if (closeDown && insideCloseButton(titleArea, x, y + titleHeight)) break;
            if (sprangBack || std::exchange(closeDown, false)) painted = false;
            continue;
        }
        if (!waylandDispatch(box.configured ? -1 : giveUpAt)) break;
    }

    wayland.boxes.erase(std::find(wayland.boxes.begin(), wayland.boxes.end(), &box));
    if (wayland.keyboardFocus == box.surface) wayland.keyboardFocus = nullptr;
    if (wayland.pointerFocus == box.surface) wayland.pointerFocus = nullptr;
    if (wayland.touchFocus == box.surface) wayland.touchFocus = nullptr;
    waylandHideSurface(box);
    wl_surface_destroy(box.surface);
    font.reset();
    wl_display_flush(wayland.display);
    return shown ? IDOK : 0;
}
