// The program's shell: the entry point and the procedure of its one window.
#pragma once

#include "platform/win32.h"

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);
// The program from its class to the end of its message loop, with the
// window's messages going to `procedure` (windowProc, or one that watches
// what it receives and hands it on).
int runViewer(HINSTANCE hInstance, int nCmdShow, WNDPROC procedure);
