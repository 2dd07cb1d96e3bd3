// The floor: the viewer's frames drawn by a bare GLX loop with nothing else
// in it, in a window of the viewer's size.
#include "app/viewer_state.h"
#include "scene/scene.h"

#include <GL/glx.h>
#include <X11/keysym.h>

#include <cstdio>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "bare-loop: cannot open the X display\n");
        return 1;
    }
    int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, GLX_DEPTH_SIZE, 16, None};
    XVisualInfo* visual = glXChooseVisual(display, DefaultScreen(display), attributes);
    if (!visual) {
        std::fprintf(stderr, "bare-loop: no double-buffered RGBA visual\n");
        return 1;
    }
    int side = int(DisplayHeight(display, DefaultScreen(display)) * 0.8);
    Window root = RootWindow(display, visual->screen);
    XSetWindowAttributes windowAttributes = {};
    windowAttributes.colormap = XCreateColormap(display, root, visual->visual, AllocNone);
    windowAttributes.event_mask = ExposureMask | StructureNotifyMask | KeyPressMask;
    Window window = XCreateWindow(display, root, 0, 0, unsigned(side), unsigned(side), 0, visual->depth, InputOutput,
                                  visual->visual, CWColormap | CWEventMask, &windowAttributes);
    XStoreName(display, window, "bare-loop");
    XMapWindow(display, window);
    GLXContext context = glXCreateContext(display, visual, nullptr, True);
    glXMakeCurrent(display, window, context);

    viewer.windowWidth = side;
    viewer.windowHeight = side;
    initializeScene();
    for (;;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != KeyPress) continue;
            KeySym key = XLookupKeysym(&event.xkey, 0);
            if (key == XK_Escape) return 0;
            if (key == XK_f) viewer.fogEnabled = !viewer.fogEnabled;  // as the viewer does
        }
        drawScene();
        glFlush();
        glXSwapBuffers(display, window);
    }
}
