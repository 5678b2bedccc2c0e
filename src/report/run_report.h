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
#include <string_view>
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
inline constexpr const char* kReportData = "report.json";
inline constexpr const char* kReportFiles = "report_files";

// Frames with a flagged join whose pictures are kept; later ones are
// listed by number only, so that a reel that goes wrong throughout cannot
// fill the memory.
inline constexpr std::size_t kMaxFlaggedPictures = 48;

// What the report keeps of every frame.
struct FrameNumbers {
    int frame = 0;
    std::string file;
    FrameBounds bounds;
    std::optional<ScanRows> band;
    std::optional<double> join;
    std::optional<int> standardJoin;
    std::optional<double> preciseJoin;
    std::optional<double> score;
    std::optional<double> correlation; // of the high-passed readings at the join
    double overlapRms = 0;             // their root mean square (8-bit steps)
    std::vector<JoinFlag> flags;
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
    std::filesystem::path path; // the scan, read again for its full-resolution crop
    cv::Size scanSize;          // as the scan lies; the numbers are on its measured scan
    TrackSide side = TrackSide::Top;
    FrameBounds bounds;
    std::optional<ScanRows> band;
    std::optional<int> filmEdge;
    std::vector<cv::Rect> cuts;
    std::optional<double> join;
    std::optional<double> score;
    std::vector<JoinFlag> flags;
    std::vector<std::string> reasons; // "first frame", "middle frame", ...
    cv::Mat picture;                  // the preview picture; empty when none came
    // for the join: the previous frame's samples and this frame's
    std::vector<float> previousSamples;
    std::vector<float> samples;
};

// How a run ended and what it wrote.
struct RunEnd {
    bool succeeded = false;
    std::string ending;                         // as a sentence
    std::string endName = "finished";           // in one word: jobEndName (job/job_end.h)
    std::vector<std::filesystem::path> outputs; // every file written
    std::filesystem::path sound;                // the sound among them, for the waveform
};

// Everything a report shows.
struct RunRecord {
    RunKind kind = RunKind::Soundtrack;
    std::vector<RunSetting> settings;
    int firstFrame = 1; // the range asked for
    int lastFrame = 1;
    std::optional<ScanResolution> resolution;
    std::vector<FrameNumbers> frames;  // in frame order
    std::vector<ShownFrame> shown;     // in frame order
    std::vector<int> flaggedUnshown;   // flagged joins past kMaxFlaggedPictures
    std::vector<RunWarning> warnings;  // about the whole run
    std::vector<LostFrame> lostFrames; // scans not read, silence in their place
    // the rows a scan advances along the film, which right joins lie near
    std::optional<double> advance;
    bool ended = false;
    RunEnd end;
};

// Gathers a run's previews into a RunRecord. Calls come from the job's
// observer, in frame order, on one thread.
class RunCollector {
public:
    RunCollector(RunKind kind, std::vector<RunSetting> settings, int firstFrame, int lastFrame);

    void addFrame(const FramePreview& preview);
    // The picture of a frame whose numbers came last.
    void addPicture(const FramePreview& preview, const cv::Mat& bgrPicture);
    void addWarning(const RunWarning& warning);
    void addLostFrame(const LostFrame& lost);
    // The run's end; keeps the last frame read when the run ended early.
    void finish(RunEnd end);
    void finish(bool succeeded, std::string ending) {
        RunEnd end;
        end.succeeded = succeeded;
        end.ending = std::move(ending);
        finish(std::move(end));
    }

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
// parent exists. The report is replaced as a whole: the new report_files/ is
// made under a temporary name and swapped with the old one, report.html
// follows, and the old pictures go; a failure leaves the old report as it
// was. Nothing else in `dir` is touched. Fails with a message naming the
// path and the cause.
Status writeRunReport(const RunRecord& record, const std::filesystem::path& dir);

// Refuses an output that a report into `dir` would destroy: its report.html,
// or anything in its report_files/ (also through a link). `what` names the
// output ("the sound").
Status checkOutputOutsideReport(const std::filesystem::path& output,
                                const std::filesystem::path& dir, std::string_view what);

// Refuses a report into `dir` whose report_files/ holds the scans folder:
// replacing the pictures would take the scans along.
Status checkScansOutsideReport(const std::filesystem::path& scansFolder,
                               const std::filesystem::path& dir);

} // namespace veltrana
