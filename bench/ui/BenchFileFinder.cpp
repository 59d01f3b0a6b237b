// Builds a tree of 100,000 files in 5,000 folders, then times the file
// finder collecting every *.mp4 against `find DIR -iname '*.mp4'` in the
// same run (best of three each, after one warm-up of each).
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "ui/FileFinder.h"

namespace {

double Seconds(const std::chrono::steady_clock::time_point& start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

template <class F>
double Best(F run) {
    run();
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        auto start = std::chrono::steady_clock::now();
        run();
        best = std::min(best, Seconds(start));
    }
    return best;
}

}  // namespace

int main() {
    char pattern[] = "/tmp/velotrax-findbench-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string root = pattern;
    // 50 folders of 99 subfolders each, plus the 50 themselves: 5,000 folders
    // (with the root 5,001), 20 files each; every fifth file is a video.
    int files = 0, videos = 0, folders = 0;
    for (int a = 0; a < 50; ++a) {
        const std::string top = root + "/dir" + std::to_string(a);
        for (int b = -1; b < 99; ++b) {
            const std::string folder = b < 0 ? top : top + "/sub" + std::to_string(b);
            mkdir(folder.c_str(), 0755);
            ++folders;
            for (int f = 0; f < 20; ++f) {
                const bool video = f % 5 == 0;
                std::string name = folder + "/file" + std::to_string(f) +
                                   (video ? (f % 10 == 0 ? ".MP4" : ".mp4") : ".txt");
                int fd = open(name.c_str(), O_CREAT | O_WRONLY, 0644);
                if (fd >= 0)
                    close(fd);
                ++files;
                videos += video ? 1 : 0;
            }
        }
    }
    std::printf("tree: %d files in %d folders, %d videos\n", files, folders, videos);

    int found = 0;
    const double finder = Best([&] {
        CFileFinder f;
        found = f.Find(root, "*.mp4", true);
    });
    const std::string command = "find " + root + " -iname '*.mp4' > /dev/null";
    const double find = Best([&] {
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "find failed\n");
    });
    std::printf("CFileFinder: %.3f s (%d found)\n", finder, found);
    std::printf("find -iname: %.3f s\n", find);
    std::printf("ratio finder/find: %.2f (goal <= 1.5)\n", finder / find);
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return 0;
}
