// The platform's own rules, whatever display system shows the windows: the
// message queue, input, a window's state, the message box's loop and a
// hidden window's frames, on the layer's headless display, which needs no
// server. What X11 and Wayland themselves do is tested on real ones.
#include "layer_test.h"
#include "message_table.h"
#include "trace_line.h"
#include "viewer_window.h"

#include "app/window_proc.h"
#include "platform/headless/headless.h"

#include <GL/gl.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

class Headless : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(useHeadlessDisplay());
        recorded.clear();
        recordingBehaviour = nullptr;
    }
    void TearDown() override {
        whenBoxPainted(nullptr);
        keepGraphicsDriversLoaded();
        terminateLayer();
    }
};

using QueueRules = Headless;

TEST_F(QueueRules, PostedMessagesArriveFirstInFirstOut) {
    HWND window = createRecordingWindow("queue", 0, 0, 100, 100, false);
    for (WPARAM i = 0; i < 5; ++i) ASSERT_TRUE(PostMessageA(window, WM_USER, i, LPARAM(i * 10)));
    MSG msg;
    for (WPARAM i = 0; i < 5; ++i) {
        ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
        EXPECT_EQ(msg.hwnd, window);
        EXPECT_EQ(msg.message, UINT(WM_USER));
        EXPECT_EQ(msg.wParam, i);
        EXPECT_EQ(msg.lParam, LPARAM(i * 10));
    }
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(QueueRules, QuitComesAfterPostedMessagesAndBeforePaint) {
    HWND window = createRecordingWindow("queue", 0, 0, 100, 100, true);
    InvalidateRect(window, nullptr, FALSE);
    PostMessageA(window, WM_USER, 1, 0);
    PostQuitMessage(7);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, UINT(WM_USER));
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.message, UINT(WM_QUIT));
    EXPECT_EQ(msg.wParam, 7u);
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, UINT(WM_PAINT));
}

TEST_F(QueueRules, PaintWaitsForOtherMessagesAndRepeatsUntilValidated) {
    HWND window = createRecordingWindow("paint", 0, 0, 100, 100, true);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);  // default paint validates
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));

    InvalidateRect(window, nullptr, FALSE);
    PostMessageA(window, WM_USER, 0, 0);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER));
    // Retrieving WM_PAINT does not validate: it comes again until painted.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, UINT(WM_PAINT));
        EXPECT_EQ(msg.hwnd, window);
    }
    PAINTSTRUCT paint;
    EXPECT_EQ(BeginPaint(window, &paint), GetDC(window));
    EXPECT_EQ(paint.rcPaint.right, 100);
    EndPaint(window, &paint);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(QueueRules, PeekWithoutRemovingLeavesTheMessage) {
    HWND window = createRecordingWindow("peek", 0, 0, 100, 100, false);
    PostMessageA(window, WM_USER + 3, 0, 0);
    MSG msg;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
        EXPECT_EQ(msg.message, UINT(WM_USER + 3));
    }
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(QueueRules, TimerTicksAfterItsPeriodWhileGetMessageBlocksWithoutSpinning) {
    HWND window = createRecordingWindow("timer", 0, 0, 100, 100, false);
    EXPECT_EQ(SetTimer(window, 1, 100, nullptr), 1u);
    double wallStart = monotonicSeconds(), cpuStart = cpuSecondsUsed();
    MSG msg;
    for (int tick = 0; tick < 3; ++tick) {
        ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
        EXPECT_EQ(msg.message, UINT(WM_TIMER));
        EXPECT_EQ(msg.wParam, 1u);
        EXPECT_EQ(msg.hwnd, window);
        DispatchMessageA(&msg);
    }
    double wall = monotonicSeconds() - wallStart, cpu = cpuSecondsUsed() - cpuStart;
    EXPECT_GE(wall, 0.28);
    EXPECT_LT(cpu, 0.1 * wall) << "GetMessageA must block, not spin";
    EXPECT_TRUE(KillTimer(window, 1));
    EXPECT_FALSE(KillTimer(window, 1));
}

TEST_F(QueueRules, TimerYieldsToPostedMessages) {
    HWND window = createRecordingWindow("timer", 0, 0, 100, 100, false);
    SetTimer(window, 4, 10, nullptr);
    // The timer is due when the post comes.
    ASSERT_TRUE(waitUntil([] { return nextTimerTimeout() == 0; }, 20000));
    PostMessageA(window, WM_USER, 0, 0);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, UINT(WM_USER));
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, UINT(WM_TIMER));
    EXPECT_EQ(msg.wParam, 4u);
}

TEST_F(QueueRules, GetMessageFailsWithMinusOne) {
    MSG msg;
    EXPECT_EQ(GetMessageA(&msg, reinterpret_cast<HWND>(0x1234), 0, 0), -1);  // no such window
    EXPECT_EQ(GetMessageA(nullptr, nullptr, 0, 0), -1);
    // Another client taking the program's window away leaves a queue that
    // cannot serve it.
    HWND window = createRecordingWindow("queue", 0, 0, 100, 100, true);
    headlessDestroy(window);
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), -1);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(QueueRules, HoldsAtMostTenThousandPostedAndTenThousandInputMessages) {
    HWND window = createRecordingWindow("bounded", 0, 0, 100, 100, true);
    int posted = 0, retrieved = 0;
    for (int i = 0; i < 10500; ++i) posted += PostMessageA(window, WM_USER, 0, 0) ? 1 : 0;
    EXPECT_EQ(posted, 10000);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_REMOVE) && retrieved <= 10500) ++retrieved;
    EXPECT_EQ(retrieved, 10000);

    for (int i = 0; i < 10500; ++i) {
        headlessKey('a', 30, true);
        headlessKey('a', 30, false);
    }
    headlessCloseRequest(window);
    ASSERT_TRUE(waitUntil([&] { return PeekMessageA(&msg, window, WM_CLOSE, WM_CLOSE, PM_NOREMOVE) != 0; }, 20000));
    int keys = 0;
    while (PeekMessageA(&msg, nullptr, WM_KEYDOWN, WM_KEYUP, PM_REMOVE) && keys <= 21000) ++keys;
    EXPECT_EQ(keys, 10000);
}

TEST_F(QueueRules, WindowLifeCycleMessages) {
    recordingBehaviour = [&](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message == WM_CREATE) {
            // The window exists, with its device context, while WM_CREATE runs.
            EXPECT_TRUE(IsWindow(window));
            EXPECT_EQ(WindowFromDC(GetDC(window)), window);
        }
        return DefWindowProcA(window, message, wParam, lParam);
    };
    HWND window = createRecordingWindow("life", 0, 0, 120, 80, false);
    ASSERT_NE(window, nullptr);
    ASSERT_FALSE(recorded.empty());
    EXPECT_EQ(recorded.front().message, UINT(WM_CREATE));
    EXPECT_EQ(GetDC(window), GetDC(window)) << "a class with CS_OWNDC has one device context";
    EXPECT_EQ(ReleaseDC(window, GetDC(window)), 1);

    PostMessageA(window, WM_USER, 0, 0);
    recorded.clear();
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(recordedMessages(), std::vector<UINT>{WM_DESTROY});
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(DestroyWindow(window));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) << "messages of a destroyed window are dropped";
    EXPECT_FALSE(PostMessageA(window, WM_USER, 0, 0));
}

TEST_F(QueueRules, CreationFailsForUnknownClassesAndWhenWmCreateRefuses) {
    EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "x", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr), nullptr);
    recordingBehaviour = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        return message == WM_CREATE ? -1 : DefWindowProcA(window, message, wParam, lParam);
    };
    EXPECT_EQ(createRecordingWindow("refused", 0, 0, 10, 10, false), nullptr);
    EXPECT_EQ(recordedMessages(), (std::vector<UINT>{WM_CREATE, WM_DESTROY}));
}

TEST_F(QueueRules, RegisteringAClassTwiceFails) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = recordingWindowProc;
    windowClass.lpszClassName = "Twice";
    EXPECT_NE(RegisterClassA(&windowClass), 0);
    EXPECT_EQ(RegisterClassA(&windowClass), 0);
}

TEST_F(QueueRules, SendMessageCallsTheProcedureAtOnce) {
    recordingBehaviour = [](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        return message == WM_USER ? LRESULT(wParam * 2) : 0;
    };
    HWND window = createRecordingWindow("send", 0, 0, 10, 10, false);
    EXPECT_EQ(SendMessageA(window, WM_USER, 21, 0), 42);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

// Input on a window at (100, 50), 300 by 200.
class InputRules : public Headless {
protected:
    void SetUp() override {
        Headless::SetUp();
        window = createRecordingWindow("input", 100, 50, 300, 200, true);
        ASSERT_TRUE(pumpUntil([] { return lastRecorded(WM_SETFOCUS) != nullptr; }));
    }
    HWND window = nullptr;
};

// Each step's last mouse message, with the buttons and modifiers held after
// it and its position in client pixels. A held button keeps the pointer's
// input for its window, as every display system does.
TEST_F(InputRules, MouseMessagesCarryTheButtonsAndModifiersHeldAndClientPositions) {
    const HeldModifiers none, shift{true, false}, control{false, true};
    const struct {
        const char* step;
        std::function<void()> play;
        UINT message;
        WPARAM keys;
        int x, y;
    } steps[] = {
        {"move in", [] { headlessPointerTo(130, 70); }, WM_MOUSEMOVE, 0, 30, 20},
        {"left down", [] { headlessButton(MouseButton::left, true); }, WM_LBUTTONDOWN, MK_LBUTTON, 30, 20},
        {"shift, right down",
         [&] {
             headlessKey(keySymbol::shiftLeft, 42, true, shift);
             headlessButton(MouseButton::right, true);
         },
         WM_RBUTTONDOWN, MK_LBUTTON | MK_RBUTTON | MK_SHIFT, 30, 20},
        {"drag out past the corner", [] { headlessPointerTo(50, 20); }, WM_MOUSEMOVE,
         MK_LBUTTON | MK_RBUTTON | MK_SHIFT, -50, -30},
        {"left up outside", [] { headlessButton(MouseButton::left, false); }, WM_LBUTTONUP, MK_RBUTTON | MK_SHIFT, -50,
         -30},
        {"right up outside", [] { headlessButton(MouseButton::right, false); }, WM_RBUTTONUP, MK_SHIFT, -50, -30},
        {"shift up, back in",
         [&] {
             headlessKey(keySymbol::shiftLeft, 42, false, none);
             headlessPointerTo(140, 80);
         },
         WM_MOUSEMOVE, 0, 40, 30},
        {"control, middle down",
         [&] {
             headlessKey(keySymbol::controlLeft, 29, true, control);
             headlessButton(MouseButton::middle, true);
         },
         WM_MBUTTONDOWN, MK_MBUTTON | MK_CONTROL, 40, 30},
        {"middle up", [] { headlessButton(MouseButton::middle, false); }, WM_MBUTTONUP, MK_CONTROL, 40, 30},
    };
    for (const auto& step : steps) {
        recorded.clear();
        step.play();
        ASSERT_TRUE(pumpUntil([&] { return lastRecorded(step.message) != nullptr; })) << step.step;
        const RecordedMessage* told = lastRecorded(step.message);
        EXPECT_EQ(told->window, window) << step.step;
        EXPECT_EQ(told->wParam, step.keys) << step.step;
        EXPECT_EQ(GET_X_LPARAM(told->lParam), step.x) << step.step;
        EXPECT_EQ(GET_Y_LPARAM(told->lParam), step.y) << step.step;
    }
}

TEST_F(InputRules, ConsecutiveMovesCoalesceIntoTheLatest) {
    for (int x = 101; x <= 200; ++x) headlessPointerTo(x, 51);
    MSG msg;
    int moves = 0, lastX = -1;
    ASSERT_TRUE(waitUntil(
        [&] {
            return PeekMessageA(&msg, nullptr, WM_MOUSEMOVE, WM_MOUSEMOVE, PM_NOREMOVE) &&
                   GET_X_LPARAM(msg.lParam) == 100;
        },
        20000));
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message != WM_MOUSEMOVE) continue;
        ++moves;
        lastX = GET_X_LPARAM(msg.lParam);
    }
    EXPECT_EQ(moves, 1);
    EXPECT_EQ(lastX, 100);
}

TEST_F(InputRules, CaptureTakesMovesOutsideTheWindowUntilReleased) {
    EXPECT_EQ(SetCapture(window), nullptr);
    EXPECT_EQ(GetCapture(), window);
    headlessPointerTo(5, 3);
    ASSERT_TRUE(pumpUntil([] { return lastRecorded(WM_MOUSEMOVE) != nullptr; }));
    EXPECT_EQ(GET_X_LPARAM(lastRecorded(WM_MOUSEMOVE)->lParam), 5 - 100);
    EXPECT_EQ(GET_Y_LPARAM(lastRecorded(WM_MOUSEMOVE)->lParam), 3 - 50);
    ReleaseCapture();
    EXPECT_EQ(GetCapture(), nullptr);
    recorded.clear();
    headlessPointerTo(1100, 800);
    headlessPointerTo(101, 51);  // then inside, so that the first has been read
    ASSERT_TRUE(pumpUntil([] { return lastRecorded(WM_MOUSEMOVE) != nullptr; }));
    EXPECT_EQ(recordedMessages(WM_MOUSEMOVE).size(), 1u) << "without capture, moves outside do not arrive";
}

// Key messages and the characters they translate to; a key held gives its
// repeats, and one released while the focus was away is not held after.
TEST_F(InputRules, KeysBecomeKeyDownCharactersAndRepeats) {
    const HeldModifiers none, shift{true, false}, control{false, true};
    const struct {
        uint32_t symbol;
        unsigned scanCode;
        HeldModifiers modifiers;
        WPARAM virtualKey;
        int character;  // -1: none
    } keys[] = {
        {'f', 33, none, 'F', 'f'},
        {'F', 33, shift, 'F', 'F'},
        {'p', 25, control, 'P', 16},
        {keySymbol::escape, 1, none, VK_ESCAPE, 27},
        {keySymbol::enter, 28, none, VK_RETURN, 13},
        {keySymbol::shiftLeft, 42, none, VK_SHIFT, -1},
    };
    for (const auto& key : keys) {
        recorded.clear();
        headlessKey(key.symbol, key.scanCode, true, key.modifiers);
        headlessKey(key.symbol, key.scanCode, false, key.modifiers);
        ASSERT_TRUE(pumpUntil([] { return lastRecorded(WM_KEYUP) != nullptr; })) << key.symbol;
        const RecordedMessage* down = lastRecorded(WM_KEYDOWN);
        ASSERT_NE(down, nullptr);
        EXPECT_EQ(down->wParam, key.virtualKey) << key.symbol;
        EXPECT_EQ(down->lParam & 0xffff, 1) << "repeat count";
        EXPECT_EQ((down->lParam >> 16) & 0xff, LPARAM(key.scanCode));
        std::vector<UINT> characters = recordedMessages(WM_CHAR);
        if (key.character < 0) {
            EXPECT_TRUE(characters.empty()) << key.symbol;
        } else {
            ASSERT_EQ(characters.size(), 1u) << key.symbol;
            EXPECT_EQ(lastRecorded(WM_CHAR)->wParam, WPARAM(key.character)) << key.symbol;
        }
    }

    auto keyLines = [] {
        std::vector<std::string> lines;
        for (const RecordedMessage& each : recorded)
            if (each.message == WM_KEYDOWN || each.message == WM_KEYUP) {
                std::string line = traceLine(each.window, each.message, each.wParam, each.lParam);
                if (lines.empty() || lines.back() != line) lines.push_back(line);
            }
        return lines;
    };
    recorded.clear();
    for (int press = 0; press < 5; ++press) headlessKey('q', 16, true);
    headlessKey('q', 16, false);
    ASSERT_TRUE(pumpUntil([] { return lastRecorded(WM_KEYUP) != nullptr; }));
    EXPECT_EQ(keyLines(), heldKeyMessages);

    recorded.clear();
    headlessKey('q', 16, true);
    headlessFocus(window, false);
    headlessFocus(window, true);
    headlessKey('q', 16, true);
    ASSERT_TRUE(pumpUntil([] { return recordedMessages(WM_KEYDOWN).size() == 2; }));
    EXPECT_EQ(keyLines(), (std::vector<std::string>{"WM_KEYDOWN 81"})) << "a press after the focus came back";
}

TEST_F(InputRules, TheDesktopsDoingsBecomeTheirMessages) {
    const struct {
        const char* doing;
        std::function<void()> play;
        UINT until;  // the doing's last message
        std::vector<std::string> expected;
    } doings[] = {
        {"resize", [&] { headlessResize(window, 220, 180); }, WM_PAINT, {"WM_SIZE restored 220x180", "WM_PAINT"}},
        {"move", [&] { headlessMove(window, 10, 10); }, WM_MOVE, {}},
        {"maximize",
         [&] { headlessResize(window, 1280, 1000, WindowSizeState::maximized); },
         WM_PAINT,
         {"WM_SIZE maximized 1280x1000 zoomed", "WM_PAINT"}},
        {"minimize",
         [&] { headlessResize(window, 1280, 1000, WindowSizeState::minimized); },
         WM_SIZE,
         {"WM_SIZE minimized 0x0 iconic"}},
        {"restore", [&] { headlessResize(window, 220, 180); }, WM_PAINT, {"WM_SIZE restored 220x180", "WM_PAINT"}},
        {"uncover", [&] { headlessUncover(window); }, WM_PAINT, {"WM_PAINT"}},
        {"close", [&] { headlessCloseRequest(window); }, WM_DESTROY, {"WM_CLOSE", "WM_DESTROY"}},
    };
    for (const auto& doing : doings) {
        recorded.clear();
        doing.play();
        ASSERT_TRUE(pumpUntil([&] {
            MSG waiting;
            return lastRecorded(doing.until) && !PeekMessageA(&waiting, nullptr, 0, 0, PM_NOREMOVE);
        })) << doing.doing;
        std::vector<std::string> lines;
        for (const RecordedMessage& each : recorded) {
            std::string line = traceLine(each.window, each.message, each.wParam, each.lParam);
            if (!line.empty()) lines.push_back(line);
        }
        EXPECT_EQ(lines, doing.expected) << doing.doing;
        if (std::string(doing.doing) == "move") {
            const RecordedMessage* moved = lastRecorded(WM_MOVE);
            ASSERT_NE(moved, nullptr);
            EXPECT_EQ(GET_X_LPARAM(moved->lParam), 10);
        }
    }
    EXPECT_FALSE(IsWindow(window));
}

// A message box answers Return, Enter, Space and Escape, a click on OK and
// the close of its window; a click elsewhere, other keys, or OK let go of
// off the button do not dismiss it.
TEST_F(Headless, TheMessageBoxAnswersAsThePlatformsDoes) {
    const uint32_t pressedColour = 0xff000000 | boxColour::buttonPressed;
    const struct {
        const char* answer;
        std::function<void(const HeadlessBox&)> play;  // on the first picture
        std::vector<bool> buttonLooksPressed;          // in each picture after the first
    } rows[] = {
        {"Return", [](const HeadlessBox&) { headlessKey(keySymbol::enter, 28, true); }, {}},
        {"keypad Enter", [](const HeadlessBox&) { headlessKey(keySymbol::keypadEnter, 96, true); }, {}},
        {"Space", [](const HeadlessBox&) { headlessKey(' ', 57, true); }, {}},
        {"Escape", [](const HeadlessBox&) { headlessKey(keySymbol::escape, 1, true); }, {}},
        {"a, then the window's close",
         [](const HeadlessBox&) {
             headlessKey('a', 30, true);
             headlessCloseRequest(nullptr);
         },
         {}},
        {"a click on OK",
         [](const HeadlessBox& box) {
             headlessPointerTo(box.x + box.layout.buttonX + 5, box.y + box.layout.buttonY + 5);
             headlessButton(MouseButton::left, true);
             headlessButton(MouseButton::left, false);
         },
         {true}},
        {"a click beside OK, then Return",
         [](const HeadlessBox& box) {
             headlessPointerTo(box.x + box.layout.buttonX - 5, box.y + box.layout.buttonY + 5);
             headlessButton(MouseButton::left, true);
             headlessButton(MouseButton::left, false);
             headlessKey(keySymbol::enter, 28, true);
         },
         {}},
        {"OK pressed and let go of beside it, then Return",
         [](const HeadlessBox& box) {
             headlessPointerTo(box.x + box.layout.buttonX + 5, box.y + box.layout.buttonY + 5);
             headlessButton(MouseButton::left, true);
             headlessPointerTo(box.x + 2, box.y + 2);
             headlessButton(MouseButton::left, false);
             headlessKey(keySymbol::enter, 28, true);
         },
         {true, false}},
    };
    for (const auto& row : rows) {
        std::vector<bool> looks;
        int pictures = 0;
        whenBoxPainted([&](const HeadlessBox& box) {
            const BoxLayout& layout = box.layout;
            uint32_t button = box.picture.at(layout.buttonX + 3, layout.buttonY + 3);
            if (pictures++ == 0)
                row.play(box);
            else
                looks.push_back(button == pressedColour);
        });
        EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK), IDOK) << row.answer;
        EXPECT_EQ(looks, row.buttonLooksPressed) << row.answer;
    }
}

TEST_F(Headless, AnErrorBoxCarriesTheErrorMark) {
    for (UINT type : {UINT(MB_OK), UINT(MB_ICONERROR)}) {
        size_t markPixels = 0;
        whenBoxPainted([&](const HeadlessBox& box) {
            for (uint32_t pixel : box.picture.pixels) markPixels += pixel == (0xff000000 | boxColour::mark);
            headlessKey(keySymbol::enter, 28, true);
        });
        EXPECT_EQ(MessageBoxA(nullptr, "Line one\nLine two", "Error", type), IDOK);
        if (type == MB_ICONERROR)
            EXPECT_GT(markPixels, 100u);
        else
            EXPECT_EQ(markPixels, 0u);
    }
}

// The viewer's own window in-process: what it draws is what the display shows.
TEST_F(Headless, TheViewersFrameIsWhatTheDisplayShows) {
    viewer = ViewerState{};
    ASSERT_TRUE(registerViewerClass());
    viewer.windowWidth = viewer.windowHeight = 200;
    HWND window = CreateWindowExA(0, "OpenGL", "vorandile ", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    ASSERT_NE(viewer.renderingContext, nullptr) << "no OpenGL on the headless display";
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    ASSERT_NE(viewer.idleCallback, nullptr) << "painting asks for a frame";
    viewer.idleCallback();
    EXPECT_EQ(headlessFramesShown(window), 1);
    HeadlessPicture picture = headlessWindowPicture(window);
    ASSERT_EQ(picture.width, 200);
    ASSERT_EQ(picture.height, 200);
    EXPECT_NE(picture.at(100, 100), picture.at(2, 2)) << "the model in the middle, on the background";
    DestroyWindow(window);
}

// While no one sees the window, a frame waits for the display's next
// word, or for the bound; with input waiting, it does not wait at all.
TEST_F(Headless, AMinimizedWindowsFramesWaitForTheNextMessage) {
    HWND window = createRecordingWindow("hidden", 0, 0, 100, 100, true);
    HDC dc = GetDC(window);
    PIXELFORMATDESCRIPTOR wanted{};
    wanted.nSize = sizeof wanted;
    wanted.nVersion = 1;
    wanted.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    int format = ChoosePixelFormat(dc, &wanted);
    ASSERT_NE(format, 0);
    ASSERT_TRUE(SetPixelFormat(dc, format, &wanted));
    headlessResize(window, 100, 100, WindowSizeState::minimized);
    ASSERT_TRUE(pumpUntil([&] { return IsIconic(window) != 0; }));

    SetTimer(window, 1, 10, nullptr);  // due at every frame: the least urgent message, it does not end a wait
    const int frames = 3;
    double start = monotonicSeconds();
    for (int i = 0; i < frames; ++i) EXPECT_TRUE(SwapBuffers(dc));
    EXPECT_GE(monotonicSeconds() - start, 0.9 * frames * unseenFrameWaitMs / 1000.0);

    headlessKey('a', 30, true);
    start = monotonicSeconds();
    for (int i = 0; i < 10 * frames; ++i) EXPECT_TRUE(SwapBuffers(dc));
    EXPECT_LT(monotonicSeconds() - start, frames * unseenFrameWaitMs / 1000.0) << "it waited with input unread";
    EXPECT_EQ(headlessFramesShown(window), 0);
}

// The whole program on the headless display, on a thread of its own as it
// would run in a process of its own, its window's messages traced to a file
// as the traced program writes them.
std::atomic<HWND> tracedWindow{nullptr};
FILE* traceFile = nullptr;

LRESULT CALLBACK tracingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    tracedWindow = window;
    std::string line = traceLine(window, message, wParam, lParam);
    if (!line.empty()) {
        std::fprintf(traceFile, "%s\n", line.c_str());
        std::fflush(traceFile);
    }
    return windowProc(window, message, wParam, lParam);
}

class HeadlessViewer : public Headless {
protected:
    void SetUp() override {
        Headless::SetUp();
        tracePath = testing::TempDir() + "headless-trace-" + std::to_string(getpid()) + ".txt";
        traceFile = std::fopen(tracePath.c_str(), "w");
        ASSERT_NE(traceFile, nullptr);
        tracedWindow = nullptr;
        viewer = ViewerState{};
        program = std::thread([this] {
            int code = runViewer(nullptr, SW_SHOWDEFAULT, tracingProc);
            std::fprintf(traceFile, "exit %d\n", code);
            std::fflush(traceFile);
            ended = true;
        });
    }
    void TearDown() override {
        // A test that failed half way leaves the program to be ended.
        if (program.joinable()) {
            waitUntil(
                [this] {
                    headlessKey(keySymbol::enter, 28, true);
                    headlessKey(keySymbol::escape, 1, true);
                    return ended.load();
                },
                20000);
            program.join();
        }
        std::fclose(traceFile);
        std::remove(tracePath.c_str());
        Headless::TearDown();
    }
    HWND windowShown() {
        waitUntil([] { return tracedWindow.load() != nullptr; }, 20000);
        return tracedWindow;
    }
    Size clientSize() {
        Size size;
        for (const std::string& line : traceFrom(tracePath, 0)) {
            std::vector<std::string> told = words(line);
            if (told.size() >= 3 && told[0] == "WM_SIZE" && told[1] == "restored" && parseSize(told[2], &size)) break;
        }
        return size;
    }
    bool act(const std::string& action) {
        if (action == "start") {
            headlessKey(keySymbol::enter, 28, true);  // the notice
            return windowShown() != nullptr;
        }
        if (action == "shown") {
            // Painted once shown, and so given the focus before anything played from now on.
            return waitUntil([this] { return traceLength(tracePath) >= 3; }, 20000);
        }
        HWND window = windowShown();
        Size client = clientSize();
        if (action == "maximize")
            headlessResize(window, 1280, 1000, WindowSizeState::maximized);
        else if (action == "fullscreen")
            headlessResize(window, 1280, 1024);
        else if (action == "minimize")
            headlessResize(window, client.width, client.height, WindowSizeState::minimized);
        else if (action == "restore")
            headlessResize(window, client.width, client.height);
        else if (action == "close button")
            headlessCloseRequest(window);
        else if (action == "escape")
            headlessKey(keySymbol::escape, 1, true);
        else
            return false;
        return true;
    }

    std::string tracePath;
    std::thread program;
    std::atomic<bool> ended{false};
};

class WindowStates : public HeadlessViewer, public testing::WithParamInterface<Scenario> {};

// The same tables as under real window managers.
TEST_P(WindowStates, AreThePlatformsStepByStep) {
    EXPECT_EQ(followSteps(GetParam().steps, tracePath, [this](const std::string& action) { return act(action); }), "");
    EXPECT_TRUE(waitUntil([this] { return ended.load(); }, 20000));
}

INSTANTIATE_TEST_SUITE_P(OnTheHeadlessDisplay, WindowStates, testing::ValuesIn(windowStateScenarios),
                         [](const testing::TestParamInfo<Scenario>& row) { return std::string(row.param.name); });

TEST_F(HeadlessViewer, AHeldKeyIsOnePressItsRepeatsAndOneRelease) {
    ASSERT_TRUE(act("start") && act("shown"));
    for (int press = 0; press < 5; ++press) headlessKey('q', 16, true);
    headlessKey('q', 16, false);
    EXPECT_TRUE(waitUntil([&] { return keyMessages(tracePath) == heldKeyMessages; }, 20000))
        << joined(keyMessages(tracePath));
}

}  // namespace
