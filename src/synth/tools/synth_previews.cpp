// Writes the small pictures of sample scans shown in the README: one scan of
// each film type, UP and DOWN, scaled down to about 400 pixels wide.
//
//   synth_previews <directory>

#include "synth/synth.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: synth_previews <directory>\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    using veltrana::SoundtrackType;
    const struct {
        SoundtrackType film;
        const char* name;
    } films[] = {{SoundtrackType::VariableArea35, "35va"},
                 {SoundtrackType::VariableDensity35, "35vd"},
                 {SoundtrackType::VariableArea16, "16va"}};
    for (const auto& film : films) {
        for (bool up : {true, false}) {
            veltrana::synth::SynthOptions options;
            options.film = film.film;
            options.frames = 3;
            options.color = true;
            options.rotationUp = up;
            const veltrana::synth::SynthPlanResult planned =
                veltrana::synth::planSampleScans(options);
            if (!planned.ok()) {
                std::fprintf(stderr, "%s\n", planned.error.c_str());
                return 1;
            }
            // the second scan: neighbouring frames at both ends
            const cv::Mat scan = veltrana::synth::renderScan(planned.plan, 1);
            const double scale = 400.0 / scan.cols;
            cv::Mat small;
            cv::resize(scan, small, cv::Size(), scale, scale, cv::INTER_AREA);
            const std::filesystem::path out =
                dir / (std::string("sample-") + film.name + (up ? "-up" : "-down") + ".png");
            if (!cv::imwrite(out.string(), small)) {
                std::fprintf(stderr, "cannot write %s\n", out.c_str());
                return 1;
            }
            std::printf("%s\n", out.c_str());
        }
    }
    return 0;
}
