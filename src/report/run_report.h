#pragma once
// A run report: what a run showed of itself, gathered while it runs and
// written afterwards as report.html with its pictures, for a restorer to look
// at rather than read.
//
// The collector keeps every frame's numbers (a few dozen bytes and a coarse
// envelope of its samples) and pictures only of the frames worth a look: the
// first, middle and last frames of the range, the last frame a broken-off
// run read, and the frames whose join is weak or stands out. Memory thus
// stays bounded on reels of thousands of frames.
//
// The writer makes report.html and a folder report_files/ beside it, holding
// PNG thumbnails and SVG plots linked by relative names: the folder opens in
// any browser from anywhere (a USB stick), with no scripts and no network.

#include "base/status.h"
#include "job/preview.h"

#include <opencv2/core.hpp>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace veltrana {

enum class RunKind {
    Soundtrack, // the band read as sound, frames joined
    Film,       // frames cut into a movie: cut regions, no joins
};

// One setting of the run as the report lists it.
struct RunSetting {
    std::string label;
    std::string value;
};

// The name of the page and of the folder of its pictures, inside the report
// folder. Nothing else is written there.
inline constexpr const char* kReportPage = "report.html";
inline constexpr const char* kReportFiles = "report_files";

// Frames with a weak or outlying join whose pictures are kept; later ones are
// listed by number only, so that a reel that goes wrong throughout cannot
// fill the memory.
inline constexpr std::size_t kMaxFlaggedPictures = 48;

// What the report keeps of every frame.
struct FrameNumbers {
    int frame = 0;
    FrameBounds bounds;
    std::optional<ScanRows> band;
    std::optional<double> join;
    std::optional<double> score;
    bool weak = false;
    bool outlying = false;
    int cuts = 0;           // the film job's regions
    int rows = 0;           // the frame's samples
    double meanLevel = 0;   // the mean of its samples
    std::vector<float> low; // the samples' envelope: min and max over equal runs of rows
    std::vector<float> high;
};

// A frame worth a look, with what its thumbnail and its join's plots need.
struct ShownFrame {
    int frame = 0;
    std::string file;
    cv::Size scanSize; // as the scan lies; the numbers are on its measured scan
    TrackSide side = TrackSide::Top;
    FrameBounds bounds;
    std::optional<ScanRows> band;
    std::optional<int> filmEdge;
    std::vector<cv::Rect> cuts;
    std::optional<double> join;
    std::optional<double> score;
    bool weak = false;
    bool outlying = false;
    std::vector<std::string> reasons; // "first frame", "weak join", ...
    cv::Mat picture;                  // the preview picture; empty when none came
    // for the join: the previous frame's samples and this frame's
    std::vector<float> previousSamples;
    std::vector<float> samples;
};

// Everything a report shows.
struct RunRecord {
    RunKind kind = RunKind::Soundtrack;
    std::vector<RunSetting> settings;
    int firstFrame = 1; // the range asked for
    int lastFrame = 1;
    std::optional<ScanResolution> resolution;
    std::vector<FrameNumbers> frames; // in frame order
    std::vector<ShownFrame> shown;    // in frame order
    std::vector<int> flaggedUnshown;  // weak or outlying joins past kMaxFlaggedPictures
    bool ended = false;
    bool succeeded = false;
    std::string ending; // how the run ended, as a sentence
};

// Gathers a run's previews into a RunRecord. Calls come from the job's
// observer, in frame order, on one thread.
class RunCollector {
public:
    RunCollector(RunKind kind, std::vector<RunSetting> settings, int firstFrame, int lastFrame);

    void addFrame(const FramePreview& preview);
    // The picture of a frame whose numbers came last.
    void addPicture(const FramePreview& preview, const cv::Mat& bgrPicture);
    // The run's end; keeps the last frame read when the run ended early.
    void finish(bool succeeded, std::string ending);

    const RunRecord& record() const { return run; }
    std::size_t framesSeen() const { return run.frames.size(); }
    // Pictures held now, the latest frame's included.
    std::size_t picturesHeld() const;
    // Whether a frame is shown whatever its join: first, middle or last.
    bool isLandmark(int frame) const;

private:
    ShownFrame shownFrom(const FramePreview& preview) const;

    RunRecord run;
    int middleFrame = 1;
    int binsPerFrame = 8;
    std::size_t flaggedShown = 0;
    std::vector<float> previousSamples; // the last frame's, for the next join
    // the latest frame, kept until the next one comes: the last frame read
    // when the run breaks off
    std::optional<ShownFrame> latest;
};

// How two readings of the same film agree at shifts around a join: the
// normalised (Pearson) correlation of previous[join + shift + i] (between
// rows, interpolated) with current[i] over their overlap, for shift =
// -reach..reach in steps of one row. NaN where the overlap is too short or
// flat.
std::vector<double> joinCorrelation(const std::vector<float>& previous,
                                    const std::vector<float>& current, double join, int reach);

// Writes report.html and report_files/ into `dir`, creating `dir` when its
// parent exists. Replaces earlier files of the same names only. Fails with a
// message naming the path and the cause.
Status writeRunReport(const RunRecord& record, const std::filesystem::path& dir);

} // namespace veltrana
