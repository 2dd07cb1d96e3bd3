// The seat's keyboard, pointer and touch screen, turned into the platform's
// input messages: keys through xkbcommon with the compositor's keymap and
// repeat rate, the pointer with the arrow cursor, and the first finger down
// as the left button, as the platform promotes touch for programs that know
// only the mouse. While a button or finger is down the compositor keeps
// sending its events to the surface it went down on, wherever it goes: the
// capture a drag needs.
#include "platform/wayland/internal.h"

#include <linux/input-event-codes.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wayland-cursor.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace {

// The modifier state a key came with, in one word: xkbcommon's depressed,
// latched and locked modifiers and the layout, a byte each.
unsigned packedKeyState() {
    if (!wayland.keyState) return 0;
    auto byte = [](uint32_t value) { return unsigned(value & 0xff); };
    return byte(xkb_state_serialize_mods(wayland.keyState, XKB_STATE_MODS_DEPRESSED)) |
           byte(xkb_state_serialize_mods(wayland.keyState, XKB_STATE_MODS_LATCHED)) << 8 |
           byte(xkb_state_serialize_mods(wayland.keyState, XKB_STATE_MODS_LOCKED)) << 16 |
           byte(xkb_state_serialize_layout(wayland.keyState, XKB_STATE_LAYOUT_EFFECTIVE)) << 24;
}

bool modifierActive(const char* name) {
    return wayland.keyState &&
           xkb_state_mod_name_is_active(wayland.keyState, name, XKB_STATE_MODS_EFFECTIVE) > 0;
}

HeldModifiers heldModifiers() {
    return HeldModifiers{modifierActive(XKB_MOD_NAME_SHIFT), modifierActive(XKB_MOD_NAME_CTRL)};
}

WaylandSurface* findBox(wl_surface* surface) {
    for (WaylandSurface* box : wayland.boxes)
        if (box->surface == surface) return box;
    return nullptr;
}

void queueKey(HWND window, uint32_t key, bool release) {
    inputKey(window, xkb_state_key_get_one_sym(wayland.keyState, key + 8), key, release, packedKeyState());
}

void keymapGiven(void*, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    std::string refusal = "it is not in xkbcommon's text format";
    xkb_keymap* keymap = format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 ? waylandReadKeymap(wayland.xkb, fd, size, &refusal)
                                                                     : nullptr;
    close(fd);
    if (!keymap) {
        // A keymap already held goes on serving; without one, keys do nothing.
        if (!wayland.keymap && !std::exchange(wayland.keymapRefusalTold, true))
            std::fprintf(stderr, "%s: the compositor's keymap cannot be used (%s): keys are ignored\n",
                         program_invocation_short_name, refusal.c_str());
        return;
    }
    if (wayland.keyState) xkb_state_unref(wayland.keyState);
    if (wayland.keymap) xkb_keymap_unref(wayland.keymap);
    wayland.keymap = keymap;
    wayland.keyState = xkb_state_new(keymap);
}

void keyboardEntered(void*, wl_keyboard*, uint32_t, wl_surface* surface, wl_array*) {
    wayland.keyboardFocus = surface;
    if (HWND window = waylandFindWindow(surface)) inputFocus(window, true);
}

void keyboardLeft(void*, wl_keyboard*, uint32_t, wl_surface* surface) {
    if (wayland.keyboardFocus == surface) wayland.keyboardFocus = nullptr;
    wayland.repeatKey = 0;
    if (HWND window = waylandFindWindow(surface)) inputFocus(window, false);
}

void keyChanged(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t key, uint32_t state) {
    if (!wayland.keyState) return;
    bool release = state != WL_KEYBOARD_KEY_STATE_PRESSED;
    if (release && key == wayland.repeatKey) wayland.repeatKey = 0;
    if (!release && wayland.repeatRate > 0 && xkb_keymap_key_repeats(wayland.keymap, key + 8)) {
        wayland.repeatKey = key;
        wayland.repeatDueMs = nowMs() + wayland.repeatDelayMs;
    }
    if (WaylandSurface* box = findBox(wayland.keyboardFocus)) {
        xkb_keysym_t symbol = xkb_state_key_get_one_sym(wayland.keyState, key + 8);
        // A box reads its keys between reads of the connection: more than
        // a few in one read are more than a user types at it.
        if (!release && box->keysPressed.size() < 16) box->keysPressed.push_back(symbol);
        return;
    }
    if (HWND window = waylandFindWindow(wayland.keyboardFocus)) queueKey(window, key, release);
}

void modifiersChanged(void*, wl_keyboard*, uint32_t, uint32_t depressed, uint32_t latched, uint32_t locked,
                      uint32_t group) {
    if (wayland.keyState) xkb_state_update_mask(wayland.keyState, depressed, latched, locked, 0, 0, group);
}

void repeatInfo(void*, wl_keyboard*, int32_t rate, int32_t delay) {
    wayland.repeatRate = std::max(rate, 0);
    wayland.repeatDelayMs = std::max(delay, 0);
}

const wl_keyboard_listener keyboardListener = {keymapGiven, keyboardEntered, keyboardLeft,
                                               keyChanged,  modifiersChanged, repeatInfo};

// The theme is read when the seat offers a pointer: reading it takes a
// while, and the pointer's first events should not wait for it.
void loadArrowTheme() {
    const WaylandOutput* output = waylandPrimaryOutput();
    if (wayland.cursorTheme) return;
    wayland.cursorScale = output ? output->scale : 1;
    wayland.cursorTheme = wl_cursor_theme_load(nullptr, 24 * wayland.cursorScale, wayland.shm);
}

// The arrow's images are whole multiples of the scale the theme was read at.
void showArrow(uint32_t serial) {
    loadArrowTheme();
    int scale = wayland.cursorScale;
    wl_cursor* arrow = wayland.cursorTheme ? wl_cursor_theme_get_cursor(wayland.cursorTheme, "left_ptr") : nullptr;
    if (!arrow || !arrow->image_count) return;
    wl_cursor_image* image = arrow->images[0];
    wl_buffer* buffer = wl_cursor_image_get_buffer(image);
    if (!buffer) return;
    if (!wayland.cursorSurface) wayland.cursorSurface = wl_compositor_create_surface(wayland.compositor);
    wl_surface_set_buffer_scale(wayland.cursorSurface, scale);
    wl_pointer_set_cursor(wayland.pointer, serial, wayland.cursorSurface, int32_t(image->hotspot_x) / scale,
                          int32_t(image->hotspot_y) / scale);
    wl_surface_attach(wayland.cursorSurface, buffer, 0, 0);
    wl_surface_damage(wayland.cursorSurface, 0, 0, INT32_MAX, INT32_MAX);
    wl_surface_commit(wayland.cursorSurface);
}

void pointerMoved(uint32_t, wl_fixed_t x, wl_fixed_t y);

// The arrow is set once a batch of events is in, for the pointer's last
// entry: a compositor's storm of entries would otherwise have the program
// write faster than the compositor reads.
void pointerEntered(void*, wl_pointer*, uint32_t serial, wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
    wayland.pointerFocus = surface;
    wayland.arrowSerial = serial;
    pointerMoved(0, x, y);
}

}  // namespace

void waylandShowPendingArrow() {
    if (!wayland.arrowSerial || !wayland.pointerFocus || !wayland.pointer) return;
    showArrow(wayland.arrowSerial);
    wayland.arrowSerial = 0;
}

namespace {

void pointerLeft(void*, wl_pointer*, uint32_t, wl_surface* surface) {
    if (wayland.pointerFocus == surface) wayland.pointerFocus = nullptr;
}

// The pointer, or the finger that stands for it, moved to (x, y) on the
// surface, or pressed or released a button there: a box keeps the
// position and its one button's press for its loop; a window is told in its
// client pixels.
void reportPointer(wl_surface* surface, double x, double y, bool moved, MouseButton button = MouseButton::left,
                   bool press = false) {
    if (WaylandSurface* box = findBox(surface)) {
        box->pointerX = x;
        box->pointerY = y;
        if (!moved && button == MouseButton::left) (press ? box->pointerPressed : box->pointerReleased) = true;
        return;
    }
    HWND window = waylandFindWindow(surface);
    if (!window) return;
    double scale = double(waylandOf(window)->scale) / wholeScale;
    int clientX = int(x * scale), clientY = int(y * scale);
    POINT onScreen{window->clientX + clientX, window->clientY + clientY};
    if (moved)
        inputPointerMoved(window, clientX, clientY, onScreen, heldModifiers(), packedKeyState());
    else
        inputButton(window, button, press, clientX, clientY, onScreen, heldModifiers(), packedKeyState());
}

void pointerMoved(uint32_t, wl_fixed_t x, wl_fixed_t y) {
    wayland.pointerX = wl_fixed_to_double(x);
    wayland.pointerY = wl_fixed_to_double(y);
    reportPointer(wayland.pointerFocus, wayland.pointerX, wayland.pointerY, true);
}

void pointerMotion(void*, wl_pointer*, uint32_t time, wl_fixed_t x, wl_fixed_t y) { pointerMoved(time, x, y); }

void pointerButton(void*, wl_pointer*, uint32_t serial, uint32_t, uint32_t button, uint32_t state) {
    bool press = state == WL_POINTER_BUTTON_STATE_PRESSED;
    if (press) wayland.pressSerial = serial;
    MouseButton which;
    switch (button) {
    case BTN_LEFT: which = MouseButton::left; break;
    case BTN_MIDDLE: which = MouseButton::middle; break;
    case BTN_RIGHT: which = MouseButton::right; break;
    default: return;  // extra buttons are not part of this subset
    }
    reportPointer(wayland.pointerFocus, wayland.pointerX, wayland.pointerY, false, which, press);
}

// The wheel is not part of this subset.
void pointerAxis(void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {}
void pointerFrame(void*, wl_pointer*) {}
void pointerAxisSource(void*, wl_pointer*, uint32_t) {}
void pointerAxisStop(void*, wl_pointer*, uint32_t, uint32_t) {}
void pointerAxisDiscrete(void*, wl_pointer*, uint32_t, int32_t) {}

const wl_pointer_listener pointerListener = {pointerEntered, pointerLeft,       pointerMotion,   pointerButton,
                                             pointerAxis,    pointerFrame,      pointerAxisSource, pointerAxisStop,
                                             pointerAxisDiscrete, nullptr};  // bound at version 5


// The first finger down is the primary touch point and stands for the
// mouse: it moves the pointer to where it lands, then presses, drags and
// releases the left button. Fingers that join it are ignored, and a touch
// the compositor takes back (for a gesture of its own) ends the drag where
// the finger last was.
void touchDown(void*, wl_touch*, uint32_t serial, uint32_t, wl_surface* surface, int32_t id, wl_fixed_t x,
               wl_fixed_t y) {
    if (wayland.touchDown) return;
    wayland.pressSerial = serial;
    wayland.touchDown = true;
    wayland.primaryTouch = id;
    wayland.touchFocus = surface;
    wayland.touchX = wl_fixed_to_double(x);
    wayland.touchY = wl_fixed_to_double(y);
    reportPointer(surface, wayland.touchX, wayland.touchY, true);
    reportPointer(surface, wayland.touchX, wayland.touchY, false, MouseButton::left, true);
}

void touchLifted() {
    if (!wayland.touchDown) return;
    wayland.touchDown = false;
    reportPointer(std::exchange(wayland.touchFocus, nullptr), wayland.touchX, wayland.touchY, false, MouseButton::left,
                  false);
}

void touchUp(void*, wl_touch*, uint32_t, uint32_t, int32_t id) {
    if (wayland.touchDown && id == wayland.primaryTouch) touchLifted();
}

void touchMotion(void*, wl_touch*, uint32_t, int32_t id, wl_fixed_t x, wl_fixed_t y) {
    if (!wayland.touchDown || id != wayland.primaryTouch) return;
    wayland.touchX = wl_fixed_to_double(x);
    wayland.touchY = wl_fixed_to_double(y);
    reportPointer(wayland.touchFocus, wayland.touchX, wayland.touchY, true);
}

void touchFrame(void*, wl_touch*) {}
void touchCancel(void*, wl_touch*) { touchLifted(); }

const wl_touch_listener touchListener = {touchDown, touchUp, touchMotion, touchFrame, touchCancel,
                                         nullptr, nullptr};  // bound at version 5

}  // namespace

// Read rather than mapped: a mapping past the end of the file, or of a file
// the compositor shortens meanwhile, raises SIGBUS where it is read.
xkb_keymap* waylandReadKeymap(xkb_context* xkb, int fd, uint32_t size, std::string* refusal) {
    struct stat file;
    if (size == 0) {
        *refusal = "it is empty";
    } else if (size > largestKeymapBytes) {
        *refusal = "it claims " + std::to_string(size) + " bytes";
    } else if (fstat(fd, &file) != 0 || !S_ISREG(file.st_mode)) {
        *refusal = "it is not in a file";
    } else if (file.st_size < off_t(size)) {
        *refusal = "it claims " + std::to_string(size) + " bytes of a file of " + std::to_string(file.st_size);
    } else {
        std::string text(size, '\0');
        size_t done = 0;
        while (done < size) {
            ssize_t got = pread(fd, &text[done], size - done, off_t(done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += size_t(got);
        }
        if (done < size) {
            *refusal = "its file could not be read";
            return nullptr;
        }
        // Compositors count the text's terminating NUL, which xkbcommon
        // would parse; but the text ends at the file's size without one too.
        text.resize(std::min(text.find('\0'), text.size()));
        xkb_keymap* keymap = xkb ? xkb_keymap_new_from_buffer(xkb, text.data(), text.size(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                              XKB_KEYMAP_COMPILE_NO_FLAGS)
                                 : nullptr;
        if (!keymap) *refusal = "xkbcommon cannot compile it";
        return keymap;
    }
    return nullptr;
}

void waylandSeatChanged(uint32_t capabilities) {
    bool keyboard = capabilities & WL_SEAT_CAPABILITY_KEYBOARD, pointer = capabilities & WL_SEAT_CAPABILITY_POINTER,
         touch = capabilities & WL_SEAT_CAPABILITY_TOUCH;
    if (keyboard && !wayland.keyboard) {
        if (!wayland.xkb) wayland.xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        wayland.keyboard = wl_seat_get_keyboard(wayland.seat);
        wl_keyboard_add_listener(wayland.keyboard, &keyboardListener, nullptr);
    } else if (!keyboard && wayland.keyboard) {
        wl_keyboard_release(wayland.keyboard);
        wayland.keyboard = nullptr;
        wayland.keyboardFocus = nullptr;
        wayland.repeatKey = 0;
    }
    if (pointer && !wayland.pointer) {
        loadArrowTheme();
        wayland.pointer = wl_seat_get_pointer(wayland.seat);
        wl_pointer_add_listener(wayland.pointer, &pointerListener, nullptr);
    } else if (!pointer && wayland.pointer) {
        wl_pointer_release(wayland.pointer);
        wayland.pointer = nullptr;
        wayland.pointerFocus = nullptr;
        inputPointerGone();
    }
    if (touch && !wayland.touch) {
        wayland.touch = wl_seat_get_touch(wayland.seat);
        wl_touch_add_listener(wayland.touch, &touchListener, nullptr);
    } else if (!touch && wayland.touch) {
        touchLifted();
        wl_touch_release(wayland.touch);
        wayland.touch = nullptr;
    }
}

void waylandReleaseSeat() {
    if (wayland.seat) waylandSeatChanged(0);
    if (wayland.cursorSurface) wl_surface_destroy(wayland.cursorSurface);
    if (wayland.cursorTheme) wl_cursor_theme_destroy(wayland.cursorTheme);
    if (wayland.keyState) xkb_state_unref(wayland.keyState);
    if (wayland.keymap) xkb_keymap_unref(wayland.keymap);
    if (wayland.xkb) xkb_context_unref(wayland.xkb);
    if (wayland.seat) wl_seat_release(wayland.seat);
}

int waylandRepeatKeys() {
    HWND window = waylandFindWindow(wayland.keyboardFocus);
    if (!wayland.repeatKey || !window || wayland.repeatRate <= 0) return -1;
    int64_t now = nowMs();
    int64_t interval = std::max<int64_t>(1000 / wayland.repeatRate, 1);
    // A program that fell behind gets the repeats it missed, up to a few.
    for (int caughtUp = 0; wayland.repeatDueMs <= now && caughtUp < 8; ++caughtUp) {
        queueKey(window, wayland.repeatKey, false);
        wayland.repeatDueMs += interval;
    }
    if (wayland.repeatDueMs <= now) wayland.repeatDueMs = now + interval;
    return int(wayland.repeatDueMs - now);
}

int waylandKeyText(const MSG& keyDown, unsigned keyState, char* text, int size) {
    if (!wayland.keymap || size <= 0) return 0;
    xkb_state* state = xkb_state_new(wayland.keymap);
    if (!state) return 0;
    xkb_state_update_mask(state, keyState & 0xff, (keyState >> 8) & 0xff, (keyState >> 16) & 0xff, 0, 0,
                          keyState >> 24);
    uint32_t key = uint32_t((keyDown.lParam >> 16) & 0xff) + 8;
    uint32_t character = xkb_state_key_get_utf32(state, key);
    xkb_state_unref(state);
    // Characters in the ANSI code page (Latin-1) only, as the program reads them.
    if (!character || character > 0xff) return 0;
    text[0] = char(character);
    return 1;
}
