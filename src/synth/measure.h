#pragma once
// Measuring the soundtrack job on rendered scans: it is run on them as a
// user runs it, and what it wrote (the WAV, joins.csv, leng.txt) and showed
// (each frame's trim and join, through the observer) is read back and set
// against the truth the scans were rendered from. For the accuracy tests and
// bench_archival.
//
// Conventions for this header:
// - Sounds are read back as libsndfile gives them (floating point, any
//   scale): every figure here is independent of the gain.
// - Stream sample i of a run shows strip position start + i, where start is
//   trimmedStartExact of the first frame; a frame's stretch of the stream
//   begins at its own trimmedStartExact less that start.
// - Rows are working-image rows, as everywhere in the soundtrack job.

#include "soundtrack/soundtrack_job.h"
#include "synth/synth.h"

#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace veltrana::synth {

// A render archival sound is measured on.
struct MeasuredRender {
    enum class Kind {
        Scan,       // scans of a print: joins within hundredths of a row
        LongStrip,  // a 16 mm long strip: an overlap of a few dozen rows
        Photo,      // photographs of a print: a slant, a silent track, strong fall-off
        LongRun,    // 96 frames or more: what comes back with every frame
        Diagnostic, // without any noise: what noise hides, for bench_archival
    };
    std::string name;
    SynthOptions options;
    Kind kind = Kind::Scan;
    ColorElement element = ColorElement::R;
    bool crossfade = true;
    bool removeDc = true;
};

// The renders: every film standard, UP and DOWN, colour and grey, speech,
// chirps and tones, with the renderer's realism options (fall-off, weave,
// fractional starts, silence, a noise-reduction bias), low-noise variable
// density, photograph-like frames and a long run. `frames` scans each
// (long runs at least 96, long strips a quarter); at 1200 dpi and 25 fps
// unless a case says otherwise.
std::vector<MeasuredRender> archivalRenders(int frames);

// One line of joins.csv.
struct ReportedJoin {
    int frame = 0;
    int standard = 0;      // the standard join
    double score = 0;      // the precise search's
    std::string method;    // as written, e.g. "precise (loose)"
    double used = 0;       // the join used
    double precision = -1; // rows, one standard deviation; -1 when not given
    bool isFallback() const { return method.rfind("standard", 0) == 0; }
};

// A run of the soundtrack job on rendered scans, and what it gave.
struct JobOnRender {
    SoundtrackResult result;
    SoundtrackTimings timings;
    std::vector<FrameBounds> bounds;  // each frame's trim, as the job showed it
    std::vector<double> shownJoins;   // each frame's join as the job showed it, 0 for the first
    std::vector<ReportedJoin> report; // joins.csv, when the run wrote one
    std::vector<float> sound;         // the WAV, read back
    int lengthsSum = 0;               // the whole rows of leng.txt, added up
};

// Runs `job` on the scans in `scans` (frames 1 to the last, the resolution
// given by hand as rendered), writing `wav`, with an observer that asks for
// every frame's numbers. Everything else (film, rotation, archival sound,
// threads) is as `job` says; its input, range, resolution, output,
// observer and timings are set here.
JobOnRender runJobOnRender(const SynthTruth& truth, const std::filesystem::path& scans,
                           const std::filesystem::path& wav, SoundtrackJob& job);

// The rendered signal between its samples: a Blackman-windowed sinc reaching
// 32 samples either way, longer than the job's own kernel, so that the
// reference does not share its errors.
double truthAt(std::span<const float> signal, double position);

// A recovered sound against the truth read at start + lag + i over its
// middle 90 %, at the best gain and offset and at the best lag within two
// rows (to about a hundredth of a row).
struct SoundFit {
    double db = -1e9; // signal to residual, dB
    double lag = 0;
    int from = 0;                 // the first stream sample compared
    std::vector<double> signal;   // the truth at its best gain and offset
    std::vector<double> residual; // the recovered sound less that
};

SoundFit fitToTruth(std::span<const float> recovered, std::span<const float> signal, double start);

// What of the residual comes back with every frame: the residual cut into
// one stretch of `period` samples per frame, from each frame's own start in
// the stream, averaged over the frames; from the average's power goes what
// independent noise leaves in an average of that many stretches.
struct FrameSynchronous {
    double signal = 0;      // power of the fitted signal
    double synchronous = 0; // power of the frame-synchronous part
    double spread = 0;      // one standard deviation of that estimate
    int frames = 0;         // stretches averaged
    // Whether the part stands out of what noise leaves (twice its spread).
    bool resolved() const { return synchronous > 2.0 * spread; }
    // dB below the signal; when not resolved, the bound noise allows.
    double db() const;
};

FrameSynchronous frameSynchronousError(const SoundFit& fit, std::span<const double> frameStarts,
                                       int period);

// The stream positions of each frame's first row (see the conventions).
std::vector<double> frameStarts(const SynthTruth& truth, std::span<const FrameBounds> bounds);

// Each pair's join used (joins.csv) less the true one, rows.
std::vector<double> joinErrors(const SynthTruth& truth, std::span<const FrameBounds> bounds,
                               std::span<const ReportedJoin> report);

} // namespace veltrana::synth
