// Writes the application icon as the PNG files a desktop's icon theme
// holds: write_icons DIRECTORY SIZE... gives DIRECTORY/SIZExSIZE/apps/vorandile.png.
#include "packaging/png.h"
#include "platform/x11/icon.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DIRECTORY SIZE...\n", argv[0]);
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        int size = std::atoi(argv[i]);
        if (size < 1 || size > 1024) {
            std::fprintf(stderr, "%s: not an icon size: %s\n", argv[0], argv[i]);
            return 2;
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
    return 0;
}
