// A message box on the headless display: painted into memory as the layer
// paints boxes anywhere it draws their pixels itself, centred on the screen,
// with the test's pointer, buttons and keys as its input.
#include "platform/headless/internal.h"
#include "platform/pixels/box_painting.h"

#include <algorithm>

namespace {

class HeadlessBoxWindow : public BoxWindow {
public:
    ScreenSize screen() override { return headless.screen; }
    double dpi() override { return 96.0; }
    BoxFontOpener fontOpener() override { return openPixelBoxFont; }
    bool show(const BoxLayout& layout) override;
    BoxEvent next() override;
    bool paint(const BoxLayout& layout, const BoxFont* font, bool buttonDown) override;
    void resize(const BoxLayout& layout) override { show(layout); }

private:
    HeadlessBox box;
    bool painted = false;
};

bool HeadlessBoxWindow::show(const BoxLayout& layout) {
    box.layout = layout;
    box.x = (headless.screen.width - layout.width) / 2;
    box.y = (headless.screen.height - layout.height) / 2;
    box.picture = HeadlessPicture{layout.width, layout.height,
                                  std::vector<uint32_t>(size_t(layout.width) * size_t(layout.height))};
    painted = false;
    return true;
}

BoxEvent HeadlessBoxWindow::next() {
    for (;;) {
        if (!painted) return BoxEvent{BoxEvent::Kind::paint};
        HeadlessEvent event;
        if (!headlessTakeBoxEvent(&event)) {
            headlessWaitForNewEvents(-1);
            continue;
        }
        switch (event.kind) {
        case HeadlessEvent::Kind::pointer: headless.pointer = POINT{event.x, event.y}; break;
        case HeadlessEvent::Kind::button:
            if (MouseButton(event.code) == MouseButton::left) {
                BoxEvent button{event.on ? BoxEvent::Kind::press : BoxEvent::Kind::release};
                button.x = headless.pointer.x - box.x;
                button.y = headless.pointer.y - box.y;
                return button;
            }
            break;
        case HeadlessEvent::Kind::key:
            if (event.on) {
                BoxEvent key{BoxEvent::Kind::key};
                key.keySymbol = event.symbol;
                return key;
            }
            break;
        default: return BoxEvent{BoxEvent::Kind::close};
        }
    }
}

bool HeadlessBoxWindow::paint(const BoxLayout& layout, const BoxFont* font, bool buttonDown) {
    painted = true;
    HeadlessPicture& picture = box.picture;
    Canvas canvas{picture.pixels.data(), picture.width, picture.height, picture.width};
    paintMessageBox(canvas, layout, font, buttonDown);
    if (headless.boxPainted) headless.boxPainted(box);
    return true;
}

}  // namespace

std::unique_ptr<BoxWindow> headlessMessageBoxWindow(HWND, const char*, const char*) {
    return std::make_unique<HeadlessBoxWindow>();
}
