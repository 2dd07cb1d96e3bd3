// MessageBoxA: a modal top-level surface of the layer's own, drawn into
// shared memory, with the text, an OK button and, for MB_ICONERROR, an
// error mark; a child of its owner's window, as compositors show dialogs.
#include "platform/wayland/internal.h"
#include "platform/common/message_box_layout.h"
#include "platform/wayland/box_painting.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace {

void bufferReleased(void*, wl_buffer* buffer) { wl_buffer_destroy(buffer); }
const wl_buffer_listener bufferListener = {bufferReleased};

// Draws the box into a new buffer, which the compositor frees once it has
// shown the next; false when no shared memory could be had.
bool paintBox(WaylandSurface& box, const BoxLayout& layout, const BoxFont* font, bool buttonDown, int width,
              int height) {
    int stride = width * 4;
    size_t size = size_t(stride) * size_t(height);
    int file = memfd_create("message-box", MFD_CLOEXEC);
    if (file < 0) return false;
    if (ftruncate(file, off_t(size)) != 0) {
        close(file);
        return false;
    }
    void* pixels = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
    if (pixels == MAP_FAILED) {
        close(file);
        return false;
    }
    Canvas canvas{static_cast<uint32_t*>(pixels), width, height, width};
    paintMessageBox(canvas, layout, font, buttonDown);
    munmap(pixels, size);
    wl_shm_pool* pool = wl_shm_create_pool(wayland.shm, file, int32_t(size));
    wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    close(file);
    wl_buffer_add_listener(buffer, &bufferListener, nullptr);
    wl_surface_attach(box.surface, buffer, 0, 0);
    wl_surface_damage_buffer(box.surface, 0, 0, width, height);
    wl_surface_commit(box.surface);
    return true;
}

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
    WaylandSurface* parent = isLiveWindow(owner) && owner->wayland && owner->visible ? &owner->wayland->shown : nullptr;
    waylandShowSurface(box, caption, unitsWide, unitsHigh, parent);

    // Modal: the box takes its own input here; the program's windows get
    // theirs as messages, retrieved once the box is gone.
    bool buttonDown = false, painted = false, shown = true;
    for (;;) {
        if (box.configured && !painted) {
            shown = paintBox(box, layout, font, buttonDown, unitsWide * scale, unitsHigh * scale);
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
        if (!waylandDispatch(-1)) break;
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
