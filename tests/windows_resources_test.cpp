// The Windows program's resources, read back as the platform reads them:
// the icon at every size (the same picture as the Linux icon), the version
// information Explorer shows, and the manifest the loader applies.
#include "platform/x11/icon.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <string>
#include <vector>

namespace {

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

class ViewerResources : public testing::Test {
protected:
    static void SetUpTestSuite() {
        module = LoadLibraryExA(VIEWER_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite() {
        if (module) FreeLibrary(module);
    }
    void SetUp() override { ASSERT_NE(module, nullptr) << "cannot open " << VIEWER_EXE; }

    static std::vector<unsigned char> resource(LPCSTR name, LPCSTR type) {
        HRSRC found = FindResourceA(module, name, type);
        if (!found) return {};
        auto* data = static_cast<const unsigned char*>(LockResource(LoadResource(module, found)));
        return data ? std::vector<unsigned char>(data, data + SizeofResource(module, found))
                    : std::vector<unsigned char>();
    }
    static HMODULE module;
};
HMODULE ViewerResources::module = nullptr;

// A 32-bit DIB icon image as 0xAARRGGBB rows from the top; empty if it is
// not one of the given size.
std::vector<uint32_t> iconPixels(const std::vector<unsigned char>& image, int size) {
    BITMAPINFOHEADER header;
    if (image.size() < sizeof header) return {};
    memcpy(&header, image.data(), sizeof header);
    size_t colourBytes = size_t(size) * size_t(size) * 4;
    if (header.biWidth != size || header.biHeight != 2 * size || header.biBitCount != 32 ||
        header.biCompression != BI_RGB || image.size() < header.biSize + colourBytes)
        return {};
    std::vector<uint32_t> pixels(size_t(size) * size_t(size));
    for (int row = 0; row < size; ++row)
        memcpy(&pixels[size_t(size - 1 - row) * size_t(size)], image.data() + header.biSize + size_t(row) * size_t(size) * 4,
               size_t(size) * 4);
    return pixels;
}

TEST_F(ViewerResources, TheIconHoldsTheApplicationPictureAtEverySizeExplorerAsksFor) {
    std::vector<unsigned char> group = resource(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */);
    ASSERT_GE(group.size(), 6u) << "no icon group 1";
    WORD count = WORD(group[4] | group[5] << 8);
    ASSERT_EQ(group.size(), 6 + count * sizeof(IconGroupEntry));
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        IconGroupEntry entry;
        memcpy(&entry, group.data() + 6 + i * sizeof entry, sizeof entry);
        int size = entry.width ? entry.width : 256;
        sizes.push_back(size);
        std::vector<uint32_t> pixels = iconPixels(resource(MAKEINTRESOURCEA(entry.id), MAKEINTRESOURCEA(3)), size);
        EXPECT_TRUE(pixels == applicationIcon(size)) << "the " << size << " px image is not the application's icon";
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 20, 24, 32, 40, 48, 64, 128, 256}));
    // And the platform's own loader makes icons of it.
    for (int size : {16, 32, 48, 256}) {
        HICON icon = HICON(LoadImageA(module, MAKEINTRESOURCEA(1), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info;
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap;
        GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

TEST_F(ViewerResources, VersionInformationNamesTheProductAndItsVersion) {
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(VIEWER_EXE, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(VIEWER_EXE, 0, size, info.data()));
    const struct {
        const char* name;
        std::string expected;
    } strings[] = {
        {"ProductName", "vorandile"},     {"ProductVersion", VORANDILE_VERSION},
        {"FileVersion", VORANDILE_VERSION}, {"FileDescription", "vorandile"},
        {"Comments", VORANDILE_DESCRIPTION}, {"OriginalFilename", "vorandile.exe"},
        {"LegalCopyright", "Copyright (c) 2026 The vorandile authors, MIT licence"},
    };
    for (const auto& string : strings) {
        char* value = nullptr;
        UINT length = 0;
        std::string path = std::string("\\StringFileInfo\\040904b0\\") + string.name;
        ASSERT_TRUE(VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length))
            << string.name;
        EXPECT_EQ(std::string(value), string.expected) << string.name;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    std::string version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                          std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                          std::to_string(HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(version, VORANDILE_VERSION);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
}

// The loader reads the manifest into an activation context; so does this.
TEST_F(ViewerResources, TheManifestDeclaresSystemDpiAwarenessAndBindsTheCurrentCommonControls) {
    ACTCTXA request = {};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = VIEWER_EXE;
    request.lpResourceName = MAKEINTRESOURCEA(1);
    HANDLE context = CreateActCtxA(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << "the manifest does not parse: error " << GetLastError();

    WCHAR value[64] = {};
    SIZE_T written = 0;
    EXPECT_TRUE(QueryActCtxSettingsW(0, context, L"http://schemas.microsoft.com/SMI/2005/WindowsSettings",
                                     L"dpiAware", value, ARRAYSIZE(value), &written));
    EXPECT_STREQ(value, L"true") << "system DPI awareness";

    ULONG_PTR cookie = 0;
    ASSERT_TRUE(ActivateActCtx(context, &cookie));
    HMODULE controls = LoadLibraryA("comctl32.dll");
    ASSERT_NE(controls, nullptr);
    // Side by side, from the assembly's own folder: the DLL's version number
    // does not tell (Wine's says 5 in either).
    char path[MAX_PATH] = {};
    GetModuleFileNameA(controls, path, MAX_PATH);
    std::string loaded = path;
    for (char& c : loaded) c = char(tolower(c));
    EXPECT_NE(loaded.find("microsoft.windows.common-controls_6595b64144ccf1df_6."), std::string::npos)
        << "the common controls the manifest asks for, not " << path;
    FreeLibrary(controls);
    DeactivateActCtx(0, cookie);
    ReleaseActCtx(context);
}

}  // namespace
