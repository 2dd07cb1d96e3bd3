// Preloaded into a program under measurement: counts its buffer swaps, made
// through GLX or EGL, and notes when the clear colour changes, without
// changing the program.
#define _GNU_SOURCE
#include "swap_log.h"

#include <GL/gl.h>
#include <GL/glx.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

static struct SwapLog* swapLog;
static float pendingClear[3] = {-1, -1, -1};
static float lastMatrix[16];

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

__attribute__((constructor)) static void openLog(void) {
    const char* path = getenv("BENCH_SWAP_LOG");
    if (!path) return;
    int file = open(path, O_RDWR | O_CREAT, 0644);
    if (file < 0) return;
    if (ftruncate(file, sizeof(struct SwapLog)) == 0) {
        void* mapped = mmap(NULL, sizeof(struct SwapLog), PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
        if (mapped != MAP_FAILED) swapLog = mapped;
    }
    close(file);
    const char* at = getenv("BENCH_MATRIX_AT");
    if (swapLog && at) swapLog->matrixAt = strtoull(at, NULL, 10);
}

void glClearColor(GLclampf red, GLclampf green, GLclampf blue, GLclampf alpha) {
    static void (*real)(GLclampf, GLclampf, GLclampf, GLclampf);
    if (!real) real = (void (*)(GLclampf, GLclampf, GLclampf, GLclampf))dlsym(RTLD_NEXT, "glClearColor");
    pendingClear[0] = red;
    pendingClear[1] = green;
    pendingClear[2] = blue;
    real(red, green, blue, alpha);
}

void glMultMatrixf(const GLfloat* matrix) {
    static void (*real)(const GLfloat*);
    if (!real) real = (void (*)(const GLfloat*))dlsym(RTLD_NEXT, "glMultMatrixf");
    memcpy(lastMatrix, matrix, sizeof lastMatrix);
    real(matrix);
}

int XNextEvent(Display* display, XEvent* event) {
    static int (*real)(Display*, XEvent*);
    if (!real) real = (int (*)(Display*, XEvent*))dlsym(RTLD_NEXT, "XNextEvent");
    int result = real(display, event);
    if (swapLog && event->type == KeyPress) {
        swapLog->keyReadAt = now();
        swapLog->swapsAtKeyRead = swapLog->swaps;
    }
    return result;
}

// Notes a swap that the program has just made, through either binding.
static void noteSwap(void) {
    if (!swapLog) return;
    double t = now();
    uint64_t swaps = swapLog->swaps + 1;
    if (swaps == 1) swapLog->firstSwap = t;
    if (memcmp((const void*)swapLog->clearColour, pendingClear, sizeof pendingClear) != 0) {
        memcpy((void*)swapLog->clearColour, pendingClear, sizeof pendingClear);
        swapLog->clearChangedAt = t;
        swapLog->swapsAtClearChange = swaps;
    }
    memcpy((void*)swapLog->frameMatrix, lastMatrix, sizeof lastMatrix);
    if (swaps == swapLog->matrixAt) {
        memcpy((void*)swapLog->matrixAtSwap, lastMatrix, sizeof lastMatrix);
        swapLog->matrixAtReady = 1;
    }
    swapLog->lastSwap = t;
    swapLog->swaps = swaps;
}

void glXSwapBuffers(Display* display, GLXDrawable drawable) {
    static void (*real)(Display*, GLXDrawable);
    if (!real) real = (void (*)(Display*, GLXDrawable))dlsym(RTLD_NEXT, "glXSwapBuffers");
    real(display, drawable);
    noteSwap();
}

#if __has_include(<EGL/egl.h>)
#include <EGL/egl.h>

// A native Wayland client presents its frames through EGL.
EGLBoolean eglSwapBuffers(EGLDisplay display, EGLSurface surface) {
    static EGLBoolean (*real)(EGLDisplay, EGLSurface);
    if (!real) real = (EGLBoolean(*)(EGLDisplay, EGLSurface))dlsym(RTLD_NEXT, "eglSwapBuffers");
    // Looked up, not linked: the counter is preloaded into GLX programs too.
    static EGLBoolean (*query)(EGLDisplay, EGLSurface, EGLint, EGLint*);
    if (!query) query = (EGLBoolean(*)(EGLDisplay, EGLSurface, EGLint, EGLint*))dlsym(RTLD_DEFAULT, "eglQuerySurface");
    EGLint width = 0, height = 0;
    if (swapLog && query && query(display, surface, EGL_WIDTH, &width) && query(display, surface, EGL_HEIGHT, &height)) {
        swapLog->drawnWidth = width;
        swapLog->drawnHeight = height;
    }
    EGLBoolean swapped = real(display, surface);
    if (swapped) noteSwap();
    return swapped;
}
#endif
