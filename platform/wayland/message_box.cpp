// MessageBoxA: a modal top-level surface of the layer's own, drawn into
// shared memory, with the text, an OK button and, for MB_ICONERROR, an
// error mark; a child of its owner's window, as compositors show dialogs.
#include "platform/wayland/internal.h"
#include "platform/common/message_box_layout.h"
#include "platform/wayland/box_painting.h"

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
    BoxFont* font = nullptr;
    BoxLayout layout = fitLayout(text, errorIcon, waylandScreenSize(), &font);
    const WaylandOutput* output = waylandPrimaryOutput();
    int scale = output ? output->scale : 1;
    // Buffers are whole surface units.
    int unitsWide = (layout.width + scale - 1) / scale, unitsHigh = (layout.height + scale - 1) / scale;

    WaylandSurface box;
    box.surface = wl_compositor_create_surface(wayland.compositor);
    wl_surface_set_buffer_scale(box.surface, scale);
    wayland.boxes.push_back(&box);
    int64_t giveUpAt = nowMs() + boxShownWithinMs;
    WaylandSurface* parent = isLiveWindow(owner) && owner->wayland && owner->visible ? &owner->wayland->shown : nullptr;
    waylandShowSurface(box, caption, unitsWide, unitsHigh, parent);

    // Modal: the box takes its own input here; the program's windows get
    // theirs as messages, retrieved once the box is gone.
    bool buttonDown = false, painted = false, shown = true;
    for (;;) {
        if (!box.configured && nowMs() >= giveUpAt) {
            std::fprintf(stderr, "%s: the compositor did not show the message box \"%s\" within %d s\n",
                         program_invocation_short_name, caption, boxShownWithinMs / 1000);
            shown = false;
            break;
        }
        if (box.configured && !painted) {
            shown = waylandShowPixels(box, unitsWide * scale, unitsHigh * scale, [&](Canvas& canvas) {
                paintMessageBox(canvas, layout, font, buttonDown);
            });
            painted = true;
        }
        if (!shown || box.keyDismissed || box.closeRequested) break;
        int x = int(box.pointerX * scale), y = int(box.pointerY * scale);
        if (std::exchange(box.pointerPressed, false) && insideButton(layout, x, y)) {
            buttonDown = true;
            painted = false;
            continue;
        }
        if (std::exchange(box.pointerReleased, false) && buttonDown) {
            if (insideButton(layout, x, y)) break;
            buttonDown = false;
            painted = false;
            continue;
        }
        if (!waylandDispatch(box.configured ? -1 : giveUpAt)) break;
    }

    wayland.boxes.erase(std::find(wayland.boxes.begin(), wayland.boxes.end(), &box));
    if (wayland.keyboardFocus == box.surface) wayland.keyboardFocus = nullptr;
    if (wayland.pointerFocus == box.surface) wayland.pointerFocus = nullptr;
    waylandHideSurface(box);
    wl_surface_destroy(box.surface);
    waylandCloseBoxFont(font);
    wl_display_flush(wayland.display);
    return shown ? IDOK : 0;
}
