#pragma once
// Sample scans: a film strip carrying a known sound, rendered and cut into
// frame scans the way a scanner delivers them, with the truth written beside
// them so that a test can say how far a recovered sound is from the one that
// went in.
//
// Conventions for this header:
// - The strip is one continuous piece of film counted in strip rows along the
//   film, from 0. One strip row is one sample of the sound at the film's rate
//   (fps x frame pitch in rows): strip row t carries sample t of truth.wav.
// - Working images and scan files are oriented as geometry/scan.h states.
//   Row r of scan k's working image shows strip row start + r (start as
//   recorded for the scan). For UP the band lies at the left (the
//   perforation ends or the film edge first, then the band, then the
//   picture); for DOWN the whole image is mirrored left to right.
// - Scan files ("frame_0001.tif", ...) are the working image turned back
//   (a quarter clockwise), so later film lies further left. The band lies
//   along the top edge for UP and along the bottom edge for DOWN. Upright
//   files are the working image itself: later film lower, the band along the
//   left edge for UP and along the right edge for DOWN (a mirrored scan).
// - Joins: joins[k] is the row of scan k that shows the same film as row 0 of
//   scan k + 1, in the working orientation of the untrimmed scans. After a
//   trim the rows shift; trimmedJoin() does the arithmetic.
// - With fractional starts, row r of scan k shows strip position
//   startExact + r, between strip rows: the film is drawn on whole strip rows
//   and moved by the fraction with a band-limited (windowed-sinc)
//   interpolation, as if the scanner had sampled the film there. `start` is
//   then the whole part, joins[] the differences of the whole parts and
//   joinsExact[] the true, fractional joins. Without them startExact = start
//   and joinsExact = joins.
// - Row and column ranges are half-open [first, end) unless said otherwise.

#include "geometry/film_standard.h"
#include "geometry/frame_correction.h"
#include "geometry/scan_view.h"
#include "reading/dpx_header.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace veltrana::synth {

enum class SignalKind {
    Mix,    // tones and a sweep (the default)
    Tone,   // one steady tone
    Sweep,  // a logarithmic sweep
    File,   // a sound file, resampled to the film's rate
    Speech, // noise shaped like speech: its spectrum falling above a few hundred Hz, in syllables
    Silent, // nothing: the track carries its resting state throughout
};

// How the scan files are compressed: scanners write uncompressed TIFF more
// often than not.
enum class TiffCompression { None, Lzw, Deflate };

// The file format of the scans: 8-bit TIFF (the default, byte for byte what
// it always was), or a deeper format at its own depth.
enum class ScanFormat { Tiff, Tiff16, Dpx, OpenExr };

// How the deeper formats are stored. The defaults are what film scanners
// write most; the others are for the tests of the reader. A grey render is
// written as a luma DPX, a colour one as RGB.
struct DeepFileLayout {
    int dpxBits = 10; // 8, 10, 12 or 16
    DpxPacking dpxPacking = DpxPacking::FilledA;
    bool dpxBigEndian = true;
    bool exrHalf = false; // half-float samples rather than single precision
    bool exrTiled = false;
};

// Random scan start offset, in rows, unless asked otherwise.
inline constexpr int kDefaultJitter = 4;

struct SynthOptions {
    SoundtrackType film = SoundtrackType::VariableArea35;
    ScanResolution dpi{1200, 1200}; // dpiX across the film, dpiY along it
    int frames = 48;                // scans to write
    int fps = 24;                   // whole frames per second, 16 to 60
    SignalKind signal = SignalKind::Mix;
    std::filesystem::path signalFile; // for SignalKind::File
    bool color = false;               // three channels instead of one
    bool rotationUp = true;           // band along the top edge of the files
    // the picture upright in the files, later film lower: the band along the
    // left edge, or with !rotationUp (a scan from the base side, mirrored)
    // along the right edge
    bool upright = false;
    bool longStrip = false;      // 16 mm only: four frames per scan
    bool noise = false;          // film grain and scanner noise
    bool blur = false;           // scanner optics
    int jitter = kDefaultJitter; // rows of random scan start offset, at most
    std::uint32_t variant = 1;   // picks the pictures, jitter and noise
    bool force = false;          // replace a directory that holds an earlier render
    TiffCompression compression = TiffCompression::Lzw; // of the scan files
    // What real scans have, each off by default: a render without any of
    // them is byte for byte what it was before they existed.
    double falloffPercent = 0;       // light at both ends of each scan this much dimmer (0..80)
    int weave = 0;                   // each scan's film shifted sideways by 0..weave columns
    bool fractionalStarts = false;   // scans start between strip rows
    bool silence = false;            // passages of silence and of very low level (-40 dB)
    bool noiseReductionBias = false; // variable area: the clear band narrows when quiet
    // The classic sync test: each mark's picture (a film frame, 1-based as
    // the scans are numbered) is white, and a 1 kHz burst one frame long is
    // printed syncAdvance frames ahead of it, from that frame's picture start,
    // over a quiet track (the mix at kSyncQuietLevel). Marks replace the
    // signal.
    std::vector<int> syncMarks;
    int syncAdvance = -1; // frames; -1: the film's (20 on 35 mm, 26 on 16 mm)
    // The film shrunk along its length by this many percent (0 to 5): the
    // frame pitch on the strip is that much shorter than the nominal one at
    // the rendered resolution, and the sound's rate with it. Give the
    // rendered resolution by hand to the jobs.
    double shrinkPercent = 0;
    // The whole width of the film: both perforation rows (35 mm; one on
    // 16 mm), the film's edges, the scanner's light beside them and its dark
    // gate beyond. The weave then moves the film within the gate.
    bool fullAperture = false;
    ScanFormat format = ScanFormat::Tiff;
    DeepFileLayout deepLayout;
    // A frame photographed at a slant (keystone): the film's advance along a
    // scan differs by this many rows per frame pitch between the track's
    // centre and the picture's, in proportion to the distance across the
    // film. The track's centre keeps its scale, so the joins stay true there.
    double perspectiveRows = 0;
};

// The sync test's burst, and the level of the quiet track under it (-20 dB).
inline constexpr double kSyncBurstHz = 1000.0;
inline constexpr double kSyncQuietLevel = 0.1;
// The largest shrink drawn.
inline constexpr double kMaxShrinkPercent = 5.0;

// The advance the sync marks are printed with.
int syncAdvanceOf(const SynthOptions& options);

// The passages of SynthOptions::silence, repeating every 0.8 s: 0.2 s at full
// level, 0.2 s of silence, 0.2 s at -40 dB, 0.2 s at full level, each change
// a 5 ms raised-cosine ramp.
inline constexpr double kSilencePeriodSeconds = 0.8;
inline constexpr double kLowLevel = 0.01; // -40 dB
// With the noise-reduction bias, the clear band's resting width shrinks to
// this share of its usual width in silence.
inline constexpr double kBiasFloor = 0.15;

// Where a full-aperture scan's parts lie across the film: aperture columns
// (working columns of an UP scan) for the gate, window columns (0 is the
// window's first column, which a scan without full aperture starts with)
// for the film, which weaves.
struct SynthAperture {
    int gateColumns = 0;      // dark gate at each side of the scan
    int edgeColumn = 0;       // the film's edge on the band's side, window column
    int farEdgeColumn = 0;    // one past the film's other edge
    int holeColumn = 0;       // 35 mm: where the perforations by the band begin
    int pictureEndColumn = 0; // the picture ends here
    int farHoleFirst = 0;     // the perforation row on the other side
    int farHoleEnd = 0;
    int holeRows16 = 0; // 16 mm: a perforation's length along the film
};

// Everything about the strip and the scans, in pixels. Columns are working
// columns of an UP scan (mirror them for DOWN); rows are strip rows unless
// said otherwise.
struct SynthLayout {
    int trackWidth = 0;      // the soundtrack geometry's width at the rendered dpiX
    int framePitch = 0;      // rows from one frame to the next on the strip
    int sampleRate = 0;      // fps x framePitch
    int scanColumns = 0;     // across the film: the height of a file
    int scanRows = 0;        // along the film: the width of a file
    int framesPerScan = 1;   // 4 for a long strip
    int scanStep = 0;        // nominal rows from one scan start to the next
    int frameLineRows = 0;   // dark rows between two pictures
    int firstFrameLine = 0;  // strip row where frame 0's line begins
    int jitterLimit = 0;     // the largest jitter that keeps the trim out of the frames
    int sliverColumns = 0;   // perforation ends (35 mm) or scanner light past the film edge (16 mm)
    int perforationRows = 0; // length of a perforation hole (0 for 16 mm)
    double trackFirstColumn = 0; // the track area
    double trackEndColumn = 0;
    double bandCentre = 0;       // variable area: centre of the clear band
    double bandHalfWidthMin = 0; // its half-width at signal -1
    double bandHalfWidthMax = 0; // its half-width at signal +1
    int pictureFirstColumn = 0;  // the picture runs from here to the last column
    // full aperture only (0 without): the working image's width, where the
    // standard window begins in it when the film does not weave, and the rest
    int apertureColumns = 0;
    int windowFirstColumn = 0;
    SynthAperture aperture;
};

// The strip row where the burst of `mark` begins: the picture start of the
// frame `advance` frames before the mark's.
std::int64_t syncBurstStart(const SynthLayout& layout, int mark, int advance);

struct SynthScan {
    std::string file;      // name inside the directory
    int start = 0;         // strip row shown by working row 0 of the untrimmed scan (whole part)
    double startExact = 0; // strip position shown by working row 0: start plus a fraction
    int weave = 0;         // columns the film lies further from the band's edge of the scan
                           // (full aperture: further from the gate's edge on the band's side)
    // frame lines inside the scan, in working rows of the untrimmed scan
    std::vector<std::pair<int, int>> frameLines;
};

struct SynthTruth {
    SynthOptions options;
    std::string signalName; // "mix", "tone", "sweep" or the file name
    SynthLayout layout;
    ScanResolution expected; // what resolution detection should give on these scans
    ScanResolution detected; // what it gave on the first scan as written
    int signalSamples = 0;   // samples in truth.wav, one per strip row from 0
    float signalPeak = 0;    // largest magnitude of the signal
    std::vector<SynthScan> scans;
    std::vector<int> joins;         // joins[k]: row of scan k that shows row 0 of scan k + 1
    std::vector<double> joinsExact; // the same, fractional: startExact[k + 1] - startExact[k]
    std::vector<std::string> warnings;
};

// The options that can never render (bad film for a long strip, dpi or frame
// count out of range, too much jitter): one message per problem, none when
// they can. Such options are a usage error.
std::vector<std::string> checkSynthOptions(const SynthOptions& options);

// Everything needed to render the scans in memory.
struct SynthPlan {
    SynthTruth truth;          // all but `detected`
    std::vector<float> signal; // strip row t carries signal[t], within -1..1
    // With the noise-reduction bias: per strip row, the clear band's resting
    // width as a share of its usual one (kBiasFloor..1). Empty without.
    std::vector<float> clearBias;
};

struct SynthPlanResult {
    SynthPlan plan;
    std::string error;       // empty on success
    bool badOptions = false; // the error is in the options themselves
    bool ok() const { return error.empty(); }
};

// Lays out the strip and the scans and makes the signal (reading the sound
// file for SignalKind::File).
SynthPlanResult planSampleScans(const SynthOptions& options);

// Scan k (0-based) as the soundtrack job sees it after the quarter turn,
// before any trim: rows along the film, 8 bits, one or three channels.
cv::Mat renderWorkingImage(const SynthPlan& plan, int scan);

// Scan k as it is written to its file.
cv::Mat renderScan(const SynthPlan& plan, int scan);

// The edge of the files the band runs along.
TrackSide trackSideOf(const SynthOptions& options);
// Scan k as renderScan gives it, with every sample also before its
// roundings to 8 bits: what a deeper format stores.
struct RenderedScan {
    cv::Mat image; // renderScan's
    cv::Mat fine;  // the same layout, floating point, 0..255 unrounded
};
RenderedScan renderScanAtDepth(const SynthPlan& plan, int scan);

// A deeper format's samples of a rendered scan: each the code of `bits` bits
// nearest to the unrounded sample among those the reader rounds to the 8-bit
// sample (eightBitValue, reading/sample_depth.h), so that the 8-bit render
// is the deep one rounded as the reader rounds: 16-bit v gives round(v /
// 257). 16-bit samples, one or three channels.
cv::Mat deepSamples(const RenderedScan& scan, int bits);

// Writes a rendered scan in `format` ("" or the reason it could not be
// written). Deep DPX scans carry the printing-density transfer, the film
// speed and the time code 01:00:00:00 plus `index` frames.
std::string writeScanFile(const std::filesystem::path& path, const RenderedScan& scan,
                          const SynthOptions& options, int index);

// ".tif", ".dpx" or ".exr".
const char* scanFileExtension(ScanFormat format);

// "tiff", "tiff16", "dpx" or "exr", and back.
const char* scanFormatName(ScanFormat format);
std::optional<ScanFormat> scanFormatFromName(const std::string& name);

// Reporting and stopping while the scans are written. Both are called from
// the calling thread only.
struct SynthControl {
    std::function<void(int written, int total)> progress;
    std::function<bool()> cancelled;
};

struct SynthResult {
    SynthTruth truth;
    std::string error;       // empty on success
    bool badOptions = false; // a usage error rather than a failed run
    bool ok() const { return error.empty(); }
};

// Writes frame_0001.tif ..., truth.wav and truth.json into `dir`. The files
// are made in a hidden directory beside `dir`, which takes dir's name only
// when everything is written: a failed or stopped run leaves nothing under
// `dir`. An existing `dir` must be empty, or, with options.force, hold
// nothing but an earlier render.
SynthResult renderSampleScans(const SynthOptions& options, const std::filesystem::path& dir,
                              const SynthControl& control = {});

struct SynthTruthRead {
    SynthTruth truth;
    std::string error; // empty on success
    bool ok() const { return error.empty(); }
};

// Reads a truth.json back.
SynthTruthRead readSynthTruth(const std::filesystem::path& truthJson);

struct TruthSignal {
    std::vector<float> samples;
    int sampleRate = 0;
    std::string error; // empty on success
    bool ok() const { return error.empty(); }
};

// Reads a truth.wav back (any sound file that libsndfile reads; channels
// are averaged).
TruthSignal readTruthSignal(const std::filesystem::path& wav);

// The join of scans k and k + 1 once both have been trimmed with the given
// bounds (findFrameBounds on the scan files): the row of trimmed scan k that
// shows the same film as row 0 of trimmed scan k + 1.
int trimmedJoin(const SynthTruth& truth, int k, const FrameBounds& boundsK,
                const FrameBounds& boundsNext);

// The same join, fractional: exact with fractional starts too.
double trimmedJoinExact(const SynthTruth& truth, int k, const FrameBounds& boundsK,
                        const FrameBounds& boundsNext);

// The strip position shown by row 0 of scan k once trimmed with `bounds`.
double trimmedStartExact(const SynthTruth& truth, int k, const FrameBounds& bounds);

// "35va" ..., for messages and truth.json.
std::string signalKindName(SignalKind kind);

} // namespace veltrana::synth
