// What the swap counter, preloaded into a program under measurement, shares
// with the benchmark through a mapped file (BENCH_SWAP_LOG names it).
#pragma once

#include <stdint.h>

struct SwapLog {
    volatile uint64_t swaps;
    volatile double firstSwap;  // CLOCK_MONOTONIC seconds
    volatile double lastSwap;
    // The first swap of a frame whose clear colour differed from the frame
    // before, and that colour.
    volatile double clearChangedAt;
    volatile float clearColour[3];
    // When the program last took a key press from its X connection.
    volatile double keyReadAt;
    volatile uint64_t swapsAtKeyRead, swapsAtClearChange;
    // The last matrix multiplied onto the modelview stack before a swap: the
    // model's own rotation in the viewer's frames.
    volatile float frameMatrix[16];
    // With BENCH_MATRIX_AT set, the frame matrix at exactly that swap.
    volatile uint64_t matrixAt;
    volatile float matrixAtSwap[16];
    volatile int matrixAtReady;
    // The size of the surface a Wayland client last swapped: the pixels each
    // of its frames draws.
    volatile int drawnWidth, drawnHeight;
};
