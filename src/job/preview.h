#pragma once
// What a running job shows of each frame: the numbers of every frame, and now
// and then a small picture of the scan with them.
//
// Coordinates are those of the measured scan (geometry/scan_view.h): x along
// the film (its columns), y across it (its rows); for a scan lying film
// across, the file's own. The trim keeps columns bounds.left..bounds.right;
// the soundtrack band runs along the top (UP) or bottom (DOWN) edge, so it
// spans rows.

#include "geometry/film_standard.h"
#include "geometry/frame_correction.h"
#include "geometry/scan_view.h"
#include "job/run_notes.h"

#include <opencv2/core.hpp>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace veltrana {

// Rows of the scan, first..last included.
struct ScanRows {
    int first = 0;
    int last = 0;
};

struct FramePreview {
    int frame = 0;              // the frame number
    std::string file;           // the scan's file name
    std::filesystem::path path; // the scan's whole path, to read it again at full size
    cv::Size scanSize;          // the scan as it lies in its file
    // How it lies: bounds, band, film edge and cuts are given on the
    // measured scan (geometry/scan_view.h), which is the file itself for Top
    // and Bottom; storedRectOf places them in the file.
    TrackSide side = TrackSide::Top;
    FrameBounds bounds;
    // set on the first frame of a run: the resolution it was measured with
    std::optional<ScanResolution> resolution;
    // set on the first frame of a run of DPX or OpenEXR scans: their format
    // and the transfer their header states
    std::optional<std::string> scanDescription;

    // the soundtrack job
    std::optional<ScanRows> band; // the soundtrack band read as sound
    // a full-aperture scan: the film's edge on the band's side (its first row
    // on the film)
    std::optional<int> filmEdge;
    std::optional<double> join;        // where the frame joins the previous one (its rows)
    std::optional<int> standardJoin;   // the standard search's join
    std::optional<double> preciseJoin; // the precise search's, where it found one
    std::optional<double> score;       // the precise search's score, where it ran
    std::optional<double> correlation; // of the pair's high-passed readings at the join
    double overlapRms = 0;             // their root mean square, the lower (8-bit steps)
    std::vector<JoinFlag> flags;       // what speaks against the join (join_evidence.h)
    std::optional<double> advance;     // the rows a scan advances: where right joins lie
    std::vector<float> samples;        // the frame's samples, one per row along the film
    // the band's mean brightness in 8-bit steps, before the frame's mean is
    // taken off (-DC): the samples alone cannot show it
    std::optional<double> level;

    // the film job: the regions cut into movie frames
    std::vector<cv::Rect> cuts;
};

// The longest side of a preview picture, in pixels.
inline constexpr int kPreviewPictureSide = 480;

// What an observer wants to see; it costs the job nothing unless asked for.
struct PreviewRequest {
    bool frames = false;          // framePreview for every frame
    double picturesPerSecond = 0; // picturePreview at most this often; 0 for none
    // the clock the rate is held to (steady_clock unless a test sets one)
    std::function<std::chrono::steady_clock::time_point()> clock;
};

// The scan at most kPreviewPictureSide pixels on its long side, in colour.
cv::Mat previewPicture(const cv::Mat& scan);

// Holds the pictures of a run to the rate asked for.
class PicturePacer {
public:
    explicit PicturePacer(const PreviewRequest& request);
    // Whether a picture would be sent now: the frames measured ahead make
    // one only then.
    bool due() const;
    // Whether to send one now; when it says yes, the next is due a period on.
    bool take();

private:
    using Ticks = std::chrono::steady_clock::duration::rep;
    Ticks now() const;

    std::function<std::chrono::steady_clock::time_point()> clock;
    Ticks period = 0;
    bool enabled = false;
    // when the next picture is due, in clock ticks; asked from any thread
    std::atomic<Ticks> next{std::numeric_limits<Ticks>::min()};
};

} // namespace veltrana
