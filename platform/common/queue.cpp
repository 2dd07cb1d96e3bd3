// The thread's message queue and its timers, in the platform's order of
// retrieval.
#include "platform/common/internal.h"

#include <algorithm>

namespace {

// The platform's limit on the messages one queue holds: past it, posting
// fails and input is lost, so that no sender can grow the program's memory
// while it is busy (a modal box, a long frame).
const size_t queueLimit = 10000;

MSG makeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = DWORD(nowMs());
    msg.pt = platform.lastPointer;
    return msg;
}

bool inFilter(HWND target, UINT message, HWND window, UINT filterMin, UINT filterMax) {
    if (window && target != window) return false;
    if (filterMin == 0 && filterMax == 0) return true;
    return message >= filterMin && message <= filterMax;
}

bool takeFrom(std::deque<QueuedMessage>& queue, MSG* out, HWND window, UINT filterMin, UINT filterMax,
              bool remove) {
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (!inFilter(it->msg.hwnd, it->msg.message, window, filterMin, filterMax)) continue;
        *out = it->msg;
        if (remove) {
            if (&queue == &platform.inputMessages) platform.retrievedKeyState = it->keyState;
            queue.erase(it);
        }
        return true;
    }
    return false;
}

// The platform's order of retrieval: posted messages, the quit request,
// input, then paint and timer messages, which exist only while nothing
// else waits.
bool takeMessage(MSG* out, HWND window, UINT filterMin, UINT filterMax, bool remove) {
    if (takeFrom(platform.postedMessages, out, window, filterMin, filterMax, remove)) return true;
    if (platform.quitPosted && !window) {
        *out = makeMessage(nullptr, WM_QUIT, WPARAM(platform.quitCode), 0);
        if (remove) platform.quitPosted = false;
        return true;
    }
    if (takeFrom(platform.inputMessages, out, window, filterMin, filterMax, remove)) return true;
    for (HWND each : liveWindows()) {
        if (each->visible && each->needsPaint && inFilter(each, WM_PAINT, window, filterMin, filterMax)) {
            *out = makeMessage(each, WM_PAINT, 0, 0);
            return true;
        }
    }
    int64_t now = nowMs();
    for (HWND each : liveWindows()) {
        for (WindowTimer& timer : each->timers) {
            if (timer.dueMs > now || !inFilter(each, WM_TIMER, window, filterMin, filterMax)) continue;
            *out = makeMessage(each, WM_TIMER, timer.id, reinterpret_cast<LPARAM>(timer.proc));
            if (remove) timer.dueMs = now + timer.periodMs;
            return true;
        }
    }
    return false;
}

}  // namespace

int nextTimerTimeout() {
    int64_t now = nowMs();
    int64_t soonest = -1;
    for (HWND each : liveWindows())
        for (const WindowTimer& timer : each->timers) {
            int64_t left = std::max<int64_t>(timer.dueMs - now, 0);
            if (soonest < 0 || left < soonest) soonest = left;
        }
    return int(soonest);
}

void queueInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam, unsigned keyState) {
    // Like the platform, keep only the latest of consecutive mouse moves.
    if (message == WM_MOUSEMOVE && !platform.inputMessages.empty()) {
        MSG& last = platform.inputMessages.back().msg;
        if (last.message == WM_MOUSEMOVE && last.hwnd == window) {
            last = makeMessage(window, message, wParam, lParam);
            platform.inputMessages.back().keyState = keyState;
            return;
        }
    }
    if (platform.inputMessages.size() >= queueLimit) return;
    platform.inputMessages.push_back({makeMessage(window, message, wParam, lParam), keyState});
}

void notePointer(POINT onScreen) { platform.lastPointer = onScreen; }

bool messagesWaiting() {
    return platform.quitPosted || !platform.postedMessages.empty() || !platform.inputMessages.empty();
}

void forgetWindowMessages(HWND window) {
    auto forWindow = [window](const QueuedMessage& queued) { return queued.msg.hwnd == window; };
    platform.postedMessages.erase(std::remove_if(platform.postedMessages.begin(), platform.postedMessages.end(), forWindow),
                         platform.postedMessages.end());
    platform.inputMessages.erase(std::remove_if(platform.inputMessages.begin(), platform.inputMessages.end(), forWindow),
                        platform.inputMessages.end());
    window->timers.clear();
}

LRESULT sendToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!isLiveWindow(window)) return 0;
    return window->windowProc(window, message, wParam, lParam);
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
    if (!msg) return FALSE;
    native().readEvents();
    return takeMessage(msg, window, filterMin, filterMax, removeFlags & PM_REMOVE);
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
    if (!msg || (window && !isLiveWindow(window))) return -1;
    for (;;) {
        native().readEvents();
        if (platform.queueBroken) return -1;
        if (takeMessage(msg, window, filterMin, filterMax, true)) return msg->message == WM_QUIT ? 0 : 1;
        // Blocks until an event arrives or a timer is due.
        if (!native().waitForEvents(nextTimerTimeout())) return -1;
    }
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
    if (!msg || msg->message != WM_KEYDOWN) return FALSE;
    char text[16];
    int length = native().keyText(*msg, platform.retrievedKeyState, text, sizeof text);
    for (int i = 0; i < length; ++i)
        PostMessageA(msg->hwnd, WM_CHAR, WPARAM(static_cast<unsigned char>(text[i])), msg->lParam);
    return length > 0;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (!msg || !isLiveWindow(msg->hwnd)) return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
        return 0;
    }
    return sendToWindow(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if ((window && !isLiveWindow(window)) || platform.postedMessages.size() >= queueLimit) return FALSE;
    platform.postedMessages.push_back({makeMessage(window, message, wParam, lParam), 0});
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return sendToWindow(window, message, wParam, lParam);
}

void WINAPI PostQuitMessage(int exitCode) {
    platform.quitPosted = true;
    platform.quitCode = exitCode;
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC timerProc) {
    if (!isLiveWindow(window)) return 0;
    elapse = std::max(elapse, 10u);  // the platform's minimum period
    int64_t due = nowMs() + elapse;
    for (WindowTimer& timer : window->timers)
        if (timer.id == id) {
            timer = WindowTimer{id, elapse, due, timerProc};
            return id;
        }
    window->timers.push_back(WindowTimer{id, elapse, due, timerProc});
    return id ? id : 1;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
    if (!isLiveWindow(window)) return FALSE;
    auto& timers = window->timers;
    auto it = std::find_if(timers.begin(), timers.end(), [id](const WindowTimer& t) { return t.id == id; });
    if (it == timers.end()) return FALSE;
    timers.erase(it);
    return TRUE;
}
