// Writes the application icon as the files that install it:
//   write_icons DIRECTORY SIZE...   DIRECTORY/SIZExSIZE/apps/vorandile.png, an icon theme's files
//   write_icons --ico FILE SIZE...  one Windows icon file with every size, for the resource script
#include "packaging/ico.h"
#include "packaging/png.h"
#include "platform/x11/icon.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

int parseSize(const char* text, int largest) {
    char* end = nullptr;
    long size = std::strtol(text, &end, 10);
    return *text && !*end && size >= 1 && size <= largest ? int(size) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool ico = argc > 1 && std::strcmp(argv[1], "--ico") == 0;
    int first = ico ? 3 : 2;
    if (argc <= first) {
        std::fprintf(stderr, "usage: %s DIRECTORY SIZE...\n       %s --ico FILE SIZE...\n", argv[0], argv[0]);
        return 2;
    }
    std::vector<IconImage> images;
    for (int i = first; i < argc; ++i) {
        int size = parseSize(argv[i], ico ? 256 : 1024);
        if (!size) {
            std::fprintf(stderr, "%s: not an icon size: %s\n", argv[0], argv[i]);
            return 2;
        }
        if (ico) {
            images.push_back({size, applicationIcon(size)});
            continue;
        }
        std::string directory = std::string(argv[1]) + "/" + argv[i] + "x" + argv[i];
        mkdir(argv[1], 0755);
        mkdir(directory.c_str(), 0755);
        directory += "/apps";
        mkdir(directory.c_str(), 0755);
        std::string path = directory + "/vorandile.png";
        if (!writePng(path, size, size, applicationIcon(size), true)) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], path.c_str());
            return 1;
        }
    }
    if (ico && !writeIco(argv[2], images)) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
