// The Windows build, run under Wine on a server of its own, used as a user
// of that build would: the notice, frames, fog, a click, Esc, and the error
// box where no pixel format fits; the window on a 192 dpi screen; the
// installer's silent install, the installed program, and the silent
// uninstall. The checks that both builds can answer expect the same as the
// Linux build's end-to-end tests.
#include "viewer_desktop.h"

#include <X11/keysym.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <unistd.h>

namespace {

const Rgb background = viewerBackground;
const Rgb foggyBackground = viewerFoggyBackground;

// Wine's box takes keys only some time after it shows, longer on a loaded
// machine: Return is pressed again, as a user would, until `done` holds.
bool pressReturnUntil(Display* user, const std::function<bool()>& done) {
    for (int attempt = 0; attempt < 15; ++attempt) {
        usleep(500000);  // the pace of the retries, not a wait for something
        pressKey(user, XK_Return);
        if (waitUntil(done, 2000)) return true;
    }
    return false;
}

Window pressReturnUntilShown(Display* user, const char* named) {
    Window shown = 0;
    pressReturnUntil(user, [&] { return (shown = waitForWindowNamed(user, named, 0)) != 0; });
    return shown;
}

void useTheWinePrefix() {
    setenv("WINEPREFIX", WINE_PREFIX, 1);
    setenv("WINEDEBUG", "-all", 1);
    // Without the menu builder, Start menu shortcuts stay inside the prefix.
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d", 1);
}

// The prefix's wineserver and its helper processes outlive a test's program
// and would serve the next test's program from the old server's display.
void endTheWineSession() { waitForExit(spawnCommand({"wineserver", "-k"}, ""), 10000); }

class WindowsBuild : public ChildProgramTest {
protected:
    void SetUp() override {
        ChildProgramTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        useTheWinePrefix();
    }
    void TearDown() override {
        ChildProgramTest::TearDown();
        endTheWineSession();
    }
    Window startAndWaitForNotice(const char* program = WINDOWS_VIEWER) {
        child = spawnCommand({"wine", program}, server.display);
        return waitForWindowNamed(user, "vorandile", 60000);
    }

    Window start(const char* program = WINDOWS_VIEWER) {
        if (!startAndWaitForNotice(program)) return 0;
        window = pressReturnUntilShown(user, "vorandile ");
        if (window) waitUntil([&] { return closeTo(backgroundPixel(), background); }, 10000);
        return window;
    }

    // Well inside the client area, away from the model and from any frame
    // the platform draws around it.
    Rgb backgroundPixel() {
        WindowGeometry g = rootGeometry(user, window);
        return pixelAt(user, window, 40, g.height - 40);
    }

    // A Windows command line run to its end; its exit code.
    int wine(std::vector<std::string> command) {
        command.insert(command.begin(), "wine");
        return waitForExit(spawnCommand(command, server.display), 60000);
    }

    void setScreenDpi(int dpi) {
        ASSERT_EQ(wine({"reg", "add", "HKCC\\Software\\Fonts", "/v", "LogPixels", "/t", "REG_DWORD", "/d",
                        std::to_string(dpi), "/f"}),
                  0);
    }
};

// Wine's X window is the client area at an offset of the frame's border;
// the outer size is 819, 80 percent of the 1024 real pixels.
void expectOuterSizeOfEightyPercent(const WindowGeometry& g) {
    EXPECT_EQ(g.width + 2 * g.x, 819) << "the frame's borders and the client area make up 80 percent of 1024";
    EXPECT_EQ(g.height + g.y + g.x, 819);
}

TEST_F(WindowsBuild, ShowsTheNoticeThenSpinsChangesWithFogStopsOnAClickAndEndsOnEscape) {
    ASSERT_NE(startAndWaitForNotice(), 0u);
    EXPECT_TRUE(windowsNamed(user, "vorandile ").empty()) << "the window comes after the notice";
    window = pressReturnUntilShown(user, "vorandile ");
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(waitUntil([&] { return closeTo(backgroundPixel(), background); }, 10000))
        << "the same background as the Linux build";
    WindowGeometry g = rootGeometry(user, window);
    std::printf("Windows build: X window %dx%d at (%d, %d)\n", g.width, g.height, g.x, g.y);
    expectOuterSizeOfEightyPercent(g);

    std::vector<uint32_t> first = screen();
    EXPECT_TRUE(waitUntil([&] { return screen() != first; }, 10000)) << "frames keep changing";

    pressKey(user, XK_f);
    EXPECT_TRUE(waitUntil([&] { return closeTo(backgroundPixel(), foggyBackground); }, 20000));
    pressKey(user, XK_f);
    EXPECT_TRUE(waitUntil([&] { return closeTo(backgroundPixel(), background); }, 20000));

    clickAt(user, g.x + g.width / 2, g.y + g.height / 2);
    std::vector<uint32_t> stopped;
    EXPECT_TRUE(waitUntil(
        [&] {
            std::vector<uint32_t> a = screen();
            usleep(300000);
            std::vector<uint32_t> b = screen();
            if (a != b) return false;
            stopped = b;
            return true;
        },
        5000))
        << "a click stops the model";

    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 10000), 0);
}

class WindowsBuildWithoutGlx : public WindowsBuild {
    std::vector<std::string> serverArguments() const override {
        return serverWithoutGlx();
    }
};

TEST_F(WindowsBuildWithoutGlx, ReportsThatNoPixelFormatFitsAndExitsWithOne) {
    ASSERT_NE(startAndWaitForNotice(), 0u);
    Window box = pressReturnUntilShown(user, "Error");
    ASSERT_NE(box, 0u) << "the error box";
    for (Window main : windowsNamed(user, "vorandile ")) EXPECT_FALSE(isViewable(user, main));
    EXPECT_TRUE(pressReturnUntil(user, [&] { return !isRunning(child); })) << "Return dismisses the box";
    EXPECT_EQ(waitForExit(child, 10000), 1);
}

// The manifest declares the program DPI aware: on a 192 dpi screen it sizes
// its window in real pixels, as at 96 dpi, while the platform draws its
// notice at twice the size.
class WindowsBuildAtScreenResolutions : public WindowsBuild {
protected:
    void TearDown() override {
        setScreenDpi(96);
        WindowsBuild::TearDown();
    }
};

TEST_F(WindowsBuildAtScreenResolutions, TheWindowIsEightyPercentOfTheRealScreenHeightAt96And192Dpi) {
    struct Run {
        int dpi;
        int noticeWidth = 0;
    } runs[] = {{96}, {192}};
    for (Run& run : runs) {
        SCOPED_TRACE(std::to_string(run.dpi) + " dpi");
        ASSERT_NO_FATAL_FAILURE(setScreenDpi(run.dpi));
        Window notice = startAndWaitForNotice();
        ASSERT_NE(notice, 0u);
        run.noticeWidth = rootGeometry(user, notice).width;
        window = pressReturnUntilShown(user, "vorandile ");
        ASSERT_NE(window, 0u);
        ASSERT_TRUE(waitUntil([&] { return closeTo(backgroundPixel(), background); }, 10000));
        WindowGeometry g = rootGeometry(user, window);
        std::printf("%d dpi: notice %d px wide; X window %dx%d at (%d, %d)\n", run.dpi, run.noticeWidth, g.width,
                    g.height, g.x, g.y);
        expectOuterSizeOfEightyPercent(g);
        pressKey(user, XK_Escape);
        ASSERT_EQ(waitForExit(child, 10000), 0);
        endTheWineSession();
    }
    EXPECT_GE(runs[1].noticeWidth * 2, runs[0].noticeWidth * 3) << "the screen was not at 192 dpi";
}

// The installer, as an administrator deploys it: silently, then the program
// from where it went, then a silent uninstall that leaves the prefix's files
// and registry as they were before.
class WindowsInstaller : public WindowsBuild {
protected:
    const std::string package = std::string("Z:") + WINDOWS_INSTALLER;
    const std::filesystem::path drive = std::filesystem::path(WINE_PREFIX) / "drive_c";

    void SetUp() override {
        WindowsBuild::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(std::filesystem::exists(WINDOWS_INSTALLER)) << WINDOWS_INSTALLER;
        // What an interrupted run may have left; 1605 if nothing is installed.
        wine({"msiexec", "/x", package, "/qn"});
    }

    // Every file under C:, less the temporary folders that Wine's own
    // programs write to.
    std::set<std::string> files() {
        std::set<std::string> found;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(drive)) {
            std::string path = entry.path().lexically_relative(drive).string(), lower = path;
            std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(tolower(c)); });
            if (lower.find("/temp/") == std::string::npos && lower.find("/temp") != lower.size() - 5)
                found.insert(path);
        }
        return found;
    }

    // Every key of HKLM\Software and HKCU\Software with its values, one
    // string each, less Wine's own settings and the empty keys Windows
    // Installer makes for its own records the first time it installs
    // anything (a fresh prefix has none of them).
    std::set<std::string> registry() {
        std::set<std::string> keys;
        for (const char* root : {"HKEY_LOCAL_MACHINE\\Software", "HKEY_CURRENT_USER\\Software"}) {
            std::string file = tempFile("registry.reg");
            EXPECT_EQ(wine({"regedit", "/E", "Z:" + file, root}), 0) << root;
            std::ifstream in(file, std::ios::binary);
            std::string wide((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), text;
            for (size_t i = 2; i + 1 < wide.size(); i += 2) text += wide[i + 1] ? '?' : wide[i];  // UTF-16LE
            std::string section;
            std::istringstream lines(text);
            for (std::string line; std::getline(lines, line);) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (!line.empty() && line[0] == '[') section.clear();
                if (line.empty() && !section.empty()) {
                    bool installersOwn = section.find("\\Installer") != std::string::npos &&
                                         std::count(section.begin(), section.end(), '\n') == 1;
                    if (section.find("\\Software\\Wine") == std::string::npos && !installersOwn)
                        keys.insert(section);
                    section.clear();
                } else {
                    section += line + "\n";
                }
            }
            EXPECT_FALSE(keys.empty()) << root << " exported nothing";
        }
        return keys;
    }

    std::string tempFile(const std::string& name) {
        return (std::filesystem::path(WINE_PREFIX).parent_path() / name).string();
    }
};

std::vector<std::string> added(const std::set<std::string>& before, const std::set<std::string>& after) {
    std::vector<std::string> result;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(result));
    return result;
}

std::string listed(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += "  " + item + "\n";
    return text;
}

TEST_F(WindowsInstaller, InstallsSilentlyRunsFromProgramFilesAndUninstallsWithoutATrace) {
    const std::set<std::string> filesBefore = files(), registryBefore = registry();
    ASSERT_EQ(wine({"msiexec", "/i", package, "/qn"}), 0) << "the silent install";

    std::vector<std::string> newFiles = added(filesBefore, files());
    for (const char* file : {"Program Files/vorandile/vorandile.exe", "Program Files/vorandile/README.md"})
        EXPECT_NE(std::find(newFiles.begin(), newFiles.end(), file), newFiles.end()) << file << " is not installed";
    // Per machine on Windows; Wine keeps shortcuts in the user's menu.
    auto shortcuts = std::count_if(newFiles.begin(), newFiles.end(), [](const std::string& file) {
        const std::string tail = "/Start Menu/Programs/vorandile.lnk";
        return file.size() > tail.size() && file.compare(file.size() - tail.size(), tail.size(), tail) == 0;
    });
    EXPECT_EQ(shortcuts, 1) << "one Start menu shortcut among the new files:\n" << listed(newFiles);
    std::vector<std::string> newKeys = added(registryBefore, registry());
    auto uninstaller = std::count_if(newKeys.begin(), newKeys.end(), [](const std::string& key) {
        return key.find("\\CurrentVersion\\Uninstall\\{") != std::string::npos &&
               key.find("\"DisplayName\"=\"vorandile\"") != std::string::npos &&
               key.find("\"UninstallString\"") != std::string::npos;
    });
    EXPECT_EQ(uninstaller, 1) << "the entry of Apps & features";

    ASSERT_NE(start("C:\\Program Files\\vorandile\\vorandile.exe"), 0u) << "the installed program's notice and frame";
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 10000), 0);

    ASSERT_EQ(wine({"msiexec", "/x", package, "/qn"}), 0) << "the silent uninstall";
    EXPECT_EQ(files(), filesBefore) << "files left behind:\n" << listed(added(filesBefore, files()));
    EXPECT_EQ(registry(), registryBefore) << "registry keys left behind or changed:\n"
                                          << listed(added(registryBefore, registry()));
}

// The same desktops as the Linux build's tests, so that the two can be
// compared: the sizes each manager gives, and frames and keys at each.
class WindowsBuildOnADesktop : public ViewerOnADesktopTest, public testing::WithParamInterface<const char*> {
protected:
    const char* managerName() const override { return GetParam(); }
    std::vector<std::string> viewerCommand() const override { return {"wine", WINDOWS_VIEWER}; }
    int patienceMs() const override { return 60000; }
    // Wine keeps the client area at the size the program set and leaves the
    // rest of a larger X window undrawn.
    bool clearsTheWholeWindow() const override { return false; }
    bool takesItsOwnSizeBack() const override { return false; }
    void SetUp() override {
        useTheWinePrefix();
        ViewerOnADesktopTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // Wine asks only once for its windows to be shown; a manager still
        // starting up may drop that request.
        ASSERT_TRUE(managesNewWindows(user, 30000)) << managerName() << " does not manage a new window";
    }
    void TearDown() override {
        ViewerOnADesktopTest::TearDown();
        endTheWineSession();
    }
};

TEST_P(WindowsBuildOnADesktop, DrawsAndAnswersAtWhateverSizeTheManagerGives) {
    ASSERT_NE(startAndWaitForNotice(), 0u);
    window = pressReturnUntilShown(user, "vorandile ");
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(waitUntil([&] { return closeTo(pixel(3, 3), background); }, 10000));
    goThroughTheManagersSizes();
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 10000), 0);
}

INSTANTIATE_TEST_SUITE_P(Desktops, WindowsBuildOnADesktop, testing::Values("openbox", "i3", "jwm"),
                         [](const testing::TestParamInfo<const char*>& kind) { return std::string(kind.param); });

}  // namespace
