// A fault script: another client floods the running viewer as fast as the
// server takes it, with what another client can send or cause, and the
// figures that matter are printed for each flood: the viewer's resident
// memory before and at its peak, the requests sent, and how soon Esc,
// pressed as the flood ends, ends the viewer. It fails (exit 1) where the
// memory grew by more than 64 MB or Esc took more than a second.
//   floods VIEWER [SECONDS [FLOOD...]]
// Each flood lasts SECONDS, 10 by default; naming floods runs only those.
#include "x_floods.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
    std::string names;
    for (const Flood& flood : floods()) names += std::string(names.empty() ? "" : " ") + flood.name;
    if (argc < 2 || seconds <= 0) {
        std::fprintf(stderr, "usage: floods VIEWER [SECONDS [FLOOD...]]\n  SECONDS: a positive number, 10 by default\n"
                             "  FLOOD: %s\n", names.c_str());
        return 2;
    }
    std::vector<const Flood*> chosen;
    for (int i = 3; i < argc; ++i) {
        const Flood* flood = floodNamed(argv[i]);
        if (!flood) {
            std::fprintf(stderr, "floods: no flood named \"%s\"; there are: %s\n", argv[i], names.c_str());
            return 2;
        }
        chosen.push_back(flood);
    }
    if (chosen.empty())
        for (const Flood& flood : floods()) chosen.push_back(&flood);
    bool ok = true;
    for (const Flood* flood : chosen) {
        FloodFigures figures = runFlood(argv[1], *flood, seconds);
        if (!figures.failure.empty()) {
            std::fprintf(stderr, "floods: %s: %s\n", flood->name, figures.failure.c_str());
            ok = false;
            continue;
        }
        // A few tens of megabytes and a second: what a user would accept of
        // a viewer under attack, and far from what a working one shows.
        bool withinLimits = figures.ended && figures.growth < 64 * 1024 && figures.escSeconds < 1.0;
        std::printf("%s  %s\n", describeFigures(*flood, figures, seconds).c_str(), withinLimits ? "ok" : "FAILED");
        std::fflush(stdout);
        ok = ok && withinLimits;
    }
    return ok ? 0 : 1;
}
