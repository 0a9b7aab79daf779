// How long start-up spends on the registry: BuildIndex over 1000 description
// files and LoadIndex of the resulting index, in a temporary installation.
// The reference, measured in the same run, is the bare cost of opening and
// reading the same 1000 files with stdio: the part no registry can avoid.
// Each figure is the best of several rounds, so a busy machine shows less;
// the processor time is printed beside the wall time, because on a shared
// machine the wall time mostly measures the wait for a core.

#include <glib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "host/ModuleRegistry.h"
#include "support/TemporaryFolder.h"

namespace {

constexpr int Descriptions = 1000;
constexpr int Rounds = 7;

double CpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

struct Figure {
    double wall = 1e300;  // best wall time, ms
    double cpu = 1e300;   // best processor time, ms
};

Figure Best(const std::function<void()>& work) {
    Figure best;
    for (int round = 0; round < Rounds; ++round) {
        double cpu = CpuMs();
        auto start = std::chrono::steady_clock::now();
        work();
        std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        best.wall = std::min(best.wall, took.count());
        best.cpu = std::min(best.cpu, CpuMs() - cpu);
    }
    return best;
}

}  // namespace

int main() {
    korvotest::TemporaryFolder temporary("korvo-bench");
    const std::filesystem::path& root = temporary.path;
    std::filesystem::create_directories(root / "bin");
    std::filesystem::create_directories(root / "Repository");
    for (int i = 0; i < Descriptions; ++i) {
        char file[64], attributes[512];
        std::snprintf(file, sizeof file, "Module%04d.scm", i);
        std::snprintf(attributes, sizeof attributes,
                      "name=\"Module%04d\" class=\"{%08X-7b60-4561-9cc0-9c039840265f}\" version=\"1.0\" "
                      "type=\"module\" path=\"libModule%04d.so\"",
                      i, static_cast<unsigned>(i) * 2654435761u, i % 17);
        std::ofstream(root / "Repository" / file) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<korvo_module "
                                                  << attributes << "/>\r\n";
    }

    String folder = String::FromUtf8((root / "bin").string() + "/");
    int built = -1, loaded = -1, entries = 0;
    Figure build = Best([&] {
        KorvoModuleRegistry registry(folder, L"Company", L"Bench");
        built = registry.BuildIndex();
    });
    Figure load = Best([&] {
        KorvoModuleRegistry registry(folder, L"Company", L"Bench");
        loaded = registry.LoadIndex();
        entries = registry.entries.Count();
    });
    Figure reference = Best([&] {
        char block[4096];
        for (const auto& file : std::filesystem::directory_iterator(root / "Repository")) {
            std::FILE* in = std::fopen(file.path().c_str(), "rb");
            if (in == nullptr) continue;
            while (std::fread(block, 1, sizeof block, in) > 0) {
            }
            std::fclose(in);
        }
    });

    if (built != 0 || loaded != 0 || entries != Descriptions) {
        std::fprintf(stderr, "registry failed: build %d, load %d, %d entries\n", built, loaded, entries);
        return 1;
    }
    std::printf("reference: read %d description files with stdio: wall %.2f ms, cpu %.2f ms\n", Descriptions,
                reference.wall, reference.cpu);
    std::printf("cpu: build=%.2f load=%.2f\n", build.cpu, load.cpu);
    std::printf("ratio to reference (wall): build %.1fx, build+load %.1fx\n", build.wall / reference.wall,
                (build.wall + load.wall) / reference.wall);
    std::printf("target build+load < 100 ms: %s\n", build.wall + load.wall < 100.0 ? "met" : "missed");
    std::printf("index %d descriptions: build=%.2f load=%.2f\n", Descriptions, build.wall, load.wall);
    return 0;
}
