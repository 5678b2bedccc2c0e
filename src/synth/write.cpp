// Writing a render: every file goes into a hidden directory beside the
// target, which is renamed to the target's name only once the last file
// (truth.json) is complete. A failed, stopped or killed run therefore never
// leaves a directory that looks like a render.

#include "synth/internal.h"

#include "geometry/frame_correction.h"
#include "geometry/resolution.h"
#include "geometry/scan.h"
#include "job/safe_file.h"
#include "soundtrack/strip.h"
#include "soundtrack/track_geometry.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <system_error>

namespace veltrana::synth {

namespace {

namespace fs = std::filesystem;

// Scans rendered between two looks at progress and Stop.
constexpr int kBatch = 4;

// "frame_" followed by four or more digits and ".tif", ".dpx" or ".exr": a
// scan of a render.
bool isScanName(const std::string& name) {
    const std::string prefix = "frame_";
    const std::string suffix = name.size() > 4 ? name.substr(name.size() - 4) : std::string();
    if (suffix != ".tif" && suffix != ".dpx" && suffix != ".exr") {
        return false;
    }
    if (name.size() < prefix.size() + 4 + suffix.size() ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()),
                       name.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// Names a render consists of, and the files the soundtrack job leaves in a
// frame directory: the only entries --force may replace.
bool isRenderEntry(const fs::directory_entry& entry) {
    const std::string name = entry.path().filename().string();
    std::error_code ec;
    if (!entry.is_regular_file(ec)) {
        return false;
    }
    for (const char* known : {"truth.json", "truth.wav", "leng.txt", "v.txt", "z.txt", "r.txt"}) {
        if (name == known) {
            return true;
        }
    }
    return isScanName(name);
}

// A fresh hidden directory beside `target`, or an empty path and the reason.
// It has the name of the program's temporaries, so that what a killed run
// left there is removed by the next run, which removes it first.
fs::path makeStagingDirectory(const fs::path& target, std::string& error) {
    removeStaleTemporaries(target.parent_path());
    for (int attempt = 0; attempt < 20; ++attempt) {
        const fs::path candidate = target.parent_path() / temporaryName();
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            return candidate;
        }
        if (ec && ec != std::errc::file_exists) {
            error = "cannot create a directory beside " + target.string() + ": " + ec.message();
            return {};
        }
    }
    error = "cannot create a directory beside " + target.string();
    return {};
}

// Removes the staging directory unless the render was committed.
class StagingGuard {
public:
    explicit StagingGuard(fs::path dir) : path(std::move(dir)) {}
    ~StagingGuard() {
        if (!path.empty()) {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    }
    StagingGuard(const StagingGuard&) = delete;
    StagingGuard& operator=(const StagingGuard&) = delete;
    void release() { path.clear(); }

private:
    fs::path path;
};

// Why `target` cannot take a render, or empty. Sets `replace` when it holds
// an earlier render that --force lets us replace.
std::string checkTarget(const fs::path& target, bool force, bool& replace) {
    replace = false;
    std::error_code ec;
    const fs::file_status status = fs::status(target, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) {
        // a file where a directory of the path should be, or no access
        return "cannot create " + target.string() + ": " + ec.message();
    }
    if (!fs::exists(status)) {
        return {};
    }
    if (!fs::is_directory(status)) {
        return target.string() + " exists and is not a directory";
    }
    fs::directory_iterator it(target, ec);
    if (ec) {
        return "cannot read the directory " + target.string() + ": " + ec.message();
    }
    bool empty = true;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) {
            return "cannot read the directory " + target.string() + ": " + ec.message();
        }
        empty = false;
        if (!force) {
            return target.string() +
                   " is not empty (--force replaces a directory that holds an earlier render)";
        }
        if (!isRenderEntry(*it)) {
            return target.string() + " holds " + it->path().filename().string() +
                   ", which veltrana synth did not write: not replacing it";
        }
    }
    replace = !empty;
    return {};
}

// Puts the complete staging directory in the target's place.
std::string commit(const fs::path& staging, const fs::path& target, bool replace) {
    std::error_code ec;
    if (!replace) {
        // rename replaces an empty directory, and makes a missing one
        fs::rename(staging, target, ec);
        return ec ? "cannot move the render to " + target.string() + ": " + ec.message()
                  : std::string();
    }
    std::string error;
    const fs::path old = makeStagingDirectory(target, error);
    if (old.empty()) {
        return error;
    }
    fs::remove(old, ec); // only its name is wanted
    fs::rename(target, old, ec);
    if (ec) {
        return "cannot move the earlier render in " + target.string() + " aside: " + ec.message();
    }
    fs::rename(staging, target, ec);
    if (ec) {
        std::error_code back;
        fs::rename(old, target, back);
        return "cannot move the render to " + target.string() + ": " + ec.message();
    }
    fs::remove_all(old, ec);
    return {};
}

// The rows of a measured scan (film across) that a scan without full
// aperture would hold: the window the job cuts from a full-aperture scan.
cv::Mat standardWindow(const cv::Mat& measured, const SynthTruth& truth, int k) {
    const SynthLayout& l = truth.layout;
    if (!truth.options.fullAperture || measured.empty()) {
        return measured;
    }
    const int weave = truth.scans[static_cast<std::size_t>(k)].weave;
    const int first = truth.options.rotationUp
                          ? l.windowFirstColumn + weave
                          : l.apertureColumns - l.windowFirstColumn - weave - l.scanColumns;
    return measured.rowRange(first, first + l.scanColumns);
}

// What resolution detection makes of a scan file, as the job would see it.
ScanResolution detectedOn(const cv::Mat& file, const SynthOptions& o) {
    const cv::Mat working = workingImageFromFrame(frameCorrection(file, o.film, o.longStrip));
    return detectResolution(working, o.film);
}

// Whether the default strip cutter, with the pixel sizes the job takes from
// the detected resolution, cuts a range that holds all of the band in this
// scan. When it does not, the loudest passages come back clipped.
bool profileCutHoldsBand(const SynthPlan& plan, int k, const cv::Mat& file) {
    const SynthTruth& truth = plan.truth;
    const SynthOptions& o = truth.options;
    const SynthLayout& l = truth.layout;
    cv::Mat working = workingImageFromFrame(frameCorrection(file, o.film, o.longStrip));
    const auto geometry = computeSoundtrackGeometry(o.film, truth.expected);
    if (working.empty() || !geometry) {
        return false;
    }
    const StripRange cut =
        clipStripRange(stripRangeByProfile(working, o.film, *geometry, o.rotationUp), working.cols);

    // the band's columns in an UP image
    double first = 0;
    double last = 0;
    bool inside = false; // the cut must lie inside the band rather than hold it
    if (o.film == SoundtrackType::VariableDensity35) {
        first = std::ceil(l.trackFirstColumn);
        last = std::floor(l.trackEndColumn) - 1;
        inside = true;
    } else {
        const int start = truth.scans[static_cast<std::size_t>(k)].start;
        float loudest = -1.0f;
        for (int r = 0; r < l.scanRows; ++r) {
            const std::size_t t = static_cast<std::size_t>(start + r);
            loudest = std::max(loudest, t < plan.signal.size() ? plan.signal[t] : 0.0f);
        }
        const double half = 0.5 * (l.bandHalfWidthMin + l.bandHalfWidthMax) +
                            0.5 * (l.bandHalfWidthMax - l.bandHalfWidthMin) * loudest;
        first = std::floor(l.bandCentre - half);
        last = std::ceil(l.bandCentre + half) - 1;
    }
    // a weaving scan carries the band further in (a full-aperture scan's
    // window follows the film)
    const int weave = o.fullAperture ? 0 : truth.scans[static_cast<std::size_t>(k)].weave;
    first += weave;
    last += weave;
    if (!o.rotationUp) {
        const double mirroredFirst = l.scanColumns - 1 - last;
        last = l.scanColumns - 1 - first;
        first = mirroredFirst;
    }
    return inside ? (cut.first >= first && cut.last <= last)
                  : (cut.first <= first && cut.last >= last);
}

std::string dpiText(ScanResolution r) {
    return std::to_string(r.dpiX) + " x " + std::to_string(r.dpiY) + " dpi";
}

} // namespace

SynthResult renderSampleScans(const SynthOptions& options, const fs::path& dir,
                              const SynthControl& control) {
    SynthResult result;
    if (dir.empty()) {
        result.error = "no directory given";
        result.badOptions = true;
        return result;
    }
    SynthPlanResult planned = planSampleScans(options);
    if (!planned.ok()) {
        result.error = planned.error;
        result.badOptions = planned.badOptions;
        return result;
    }
    const SynthPlan& plan = planned.plan;
    result.truth = plan.truth;
    SynthTruth& truth = result.truth;

    std::error_code ec;
    fs::path target = fs::absolute(dir, ec);
    if (ec) {
        result.error = "cannot use " + dir.string() + ": " + ec.message();
        return result;
    }
    target = target.lexically_normal();
    if (!target.has_filename()) {
        target = target.parent_path();
    }
    bool replace = false;
    result.error = checkTarget(target, options.force, replace);
    if (!result.error.empty()) {
        return result;
    }
    fs::create_directories(target.parent_path(), ec);
    if (ec) {
        result.error = "cannot create " + target.parent_path().string() + ": " + ec.message();
        return result;
    }
    const fs::path staging = makeStagingDirectory(target, result.error);
    if (staging.empty()) {
        return result;
    }
    StagingGuard guard(staging);

    // the scans, a batch at a time on all cores
    const int total = options.frames;
    std::vector<std::string> problems(static_cast<std::size_t>(total));
    std::vector<char> bandHeld(static_cast<std::size_t>(total), 1);
    ScanResolution detected{};
    for (int first = 0; first < total; first += kBatch) {
        if (control.cancelled && control.cancelled()) {
            result.error = "stopped; nothing was written";
            return result;
        }
        const int end = std::min(first + kBatch, total);
        cv::parallel_for_(cv::Range(first, end), [&](const cv::Range& range) {
            for (int k = range.start; k < range.end; ++k) {
                std::string& problem = problems[static_cast<std::size_t>(k)];
                // the samples before their rounding only for a deeper format
                const RenderedScan rendered = options.format == ScanFormat::Tiff
                                                  ? RenderedScan{renderScan(plan, k), {}}
                                                  : renderScanAtDepth(plan, k);
                const cv::Mat& file = rendered.image;
                // the checks read the file as the job does: film across, and
                // of a full-aperture scan the standard window it finds
                const cv::Mat measured =
                    standardWindow(ScanView(file, trackSideOf(options)).measuredImage(), truth, k);
                if (k == 0) {
                    detected = detectedOn(measured, options);
                }
                bandHeld[static_cast<std::size_t>(k)] = profileCutHoldsBand(plan, k, measured);
                const fs::path path = staging / truth.scans[static_cast<std::size_t>(k)].file;
                problem = writeScanFile(path, rendered, options, k);
            }
        });
        for (int k = first; k < end; ++k) {
            if (!problems[static_cast<std::size_t>(k)].empty()) {
                result.error = problems[static_cast<std::size_t>(k)];
                return result;
            }
        }
        if (control.progress) {
            control.progress(end, total);
        }
    }
    truth.detected = detected;
    if (detected != options.dpi && detected != truth.expected) {
        truth.warnings.push_back("resolution detection reads the first scan as " +
                                 dpiText(detected) + ", not the rendered " + dpiText(options.dpi));
    }

    const auto clipped = std::count(bandHeld.begin(), bandHeld.end(), 0);
    if (clipped > 0) {
        truth.warnings.push_back(
            "with the pixel sizes that resolution detection leads to, the strip cutter by "
            "profile (the default) does not hold the whole band in " +
            std::to_string(clipped) + " of the " + std::to_string(total) +
            " scans: their loudest passages will come back clipped");
    }

    result.error =
        detail::writeSignalWav(staging / "truth.wav", plan.signal, truth.layout.sampleRate);
    if (!result.error.empty()) {
        return result;
    }

    // truth.json last: a directory holding it holds everything
    if (const Status written = writeNewFile(
            staging / "truth.json", detail::truthToJson(truth).dump(2) + "\n", "truth.json");
        !written) {
        result.error = written.message();
        return result;
    }

    result.error = commit(staging, target, replace);
    if (result.error.empty()) {
        guard.release();
    }
    return result;
}

} // namespace veltrana::synth
