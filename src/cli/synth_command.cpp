// `veltrana synth`: renders sample scans with their truth.

#include "cli/command.h"

#include "synth/synth.h"

#include <charconv>
#include <memory>
#include <ostream>

namespace veltrana::cli {

namespace {

struct SynthArguments {
    std::string dir;
    std::string film = "35va";
    std::string dpi = "1200";
    int frames = 48;
    int fps = 24;
    std::string signal = "mix";
    bool color = false;
    bool grey = false;
    std::string track = "top";
    bool longStrip = false;
    bool noise = false;
    bool blur = false;
    int jitter = synth::kDefaultJitter;
    std::uint32_t variant = 1;
    bool force = false;
    double falloff = 0;
    int weave = 0;
    bool fractionalStarts = false;
    bool silence = false;
    bool nrBias = false;
    std::vector<int> syncMarks;
    int syncAdvance = -1;
    double shrink = 0;
    bool fullAperture = false;
    double perspective = 0;
    std::string compression = "lzw";
    std::string format = "tiff";
    int dpxBits = 10;
    std::string dpxPacking = "a";
    std::string dpxByteOrder = "big";
    bool exrHalf = false;
    bool exrTiled = false;
};

// The file format and how its deeper kinds are laid out.
void setScanFormat(const SynthArguments& a, synth::SynthOptions& options) {
    options.format = synth::scanFormatFromName(a.format).value_or(synth::ScanFormat::Tiff);
    synth::DeepFileLayout& l = options.deepLayout;
    l.dpxBits = a.dpxBits;
    l.dpxPacking = a.dpxPacking == "packed" ? DpxPacking::Packed
                   : a.dpxPacking == "b"    ? DpxPacking::FilledB
                                            : DpxPacking::FilledA;
    l.dpxBigEndian = a.dpxByteOrder == "big";
    l.exrHalf = a.exrHalf;
    l.exrTiled = a.exrTiled;
}

bool parseInt(std::string_view text, int& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

// "1200" (both axes) or "1200x2400" (across x along).
bool parseDpi(const std::string& text, ScanResolution& dpi) {
    const auto cross = text.find_first_of("xX");
    if (cross == std::string::npos) {
        int both = 0;
        if (!parseInt(text, both)) {
            return false;
        }
        dpi = {both, both};
        return true;
    }
    return parseInt(std::string_view(text).substr(0, cross), dpi.dpiX) &&
           parseInt(std::string_view(text).substr(cross + 1), dpi.dpiY);
}

// The sound on the film: a built-in signal by name, or a sound file.
void setSignal(const SynthArguments& a, synth::SynthOptions& options) {
    if (a.signal == "mix") {
        options.signal = synth::SignalKind::Mix;
    } else if (a.signal == "tone") {
        options.signal = synth::SignalKind::Tone;
    } else if (a.signal == "sweep") {
        options.signal = synth::SignalKind::Sweep;
    } else if (a.signal == "speech") {
        options.signal = synth::SignalKind::Speech;
    } else if (a.signal == "silent") {
        options.signal = synth::SignalKind::Silent;
    } else {
        options.signal = synth::SignalKind::File;
        options.signalFile = a.signal;
    }
}

// How the film lies in the scans and what the film and the scanner do to it.
void setRenderEffects(const SynthArguments& a, synth::SynthOptions& options) {
    options.color = a.color;
    const TrackSide side = trackSideFromName(a.track).value_or(TrackSide::Top);
    options.rotationUp = side == TrackSide::Top || side == TrackSide::Left;
    options.upright = isUpright(side);
    options.longStrip = a.longStrip;
    options.noise = a.noise;
    options.blur = a.blur;
    options.jitter = a.jitter;
    options.variant = a.variant;
    options.force = a.force;
    options.falloffPercent = a.falloff;
    options.weave = a.weave;
    options.fractionalStarts = a.fractionalStarts;
    options.silence = a.silence;
    options.noiseReductionBias = a.nrBias;
    options.syncMarks = a.syncMarks;
    options.syncAdvance = a.syncAdvance;
    options.shrinkPercent = a.shrink;
    options.fullAperture = a.fullAperture;
    options.perspectiveRows = a.perspective;
    options.compression = a.compression == "none"      ? synth::TiffCompression::None
                          : a.compression == "deflate" ? synth::TiffCompression::Deflate
                                                       : synth::TiffCompression::Lzw;
}

// What was written, as the command says it.
void printRendered(const SynthArguments& a, const synth::SynthOptions& options,
                   const synth::SynthResult& result, CommandIo& io) {
    for (const std::string& warning : result.truth.warnings) {
        io.err << "veltrana synth: warning: " << warning << "\n";
    }
    const synth::SynthLayout& l = result.truth.layout;
    const int across = options.fullAperture ? l.apertureColumns : l.scanColumns;
    io.out << "Wrote " << options.frames << " scans (" << l.scanRows << " x " << across << ") of "
           << a.film << " at " << options.dpi.dpiX << " x " << options.dpi.dpiY << " dpi to "
           << a.dir << "\n"
           << "Sound: " << result.truth.signalName << ", " << l.sampleRate
           << " Hz (truth.wav); truth in truth.json\n";
}

int runSynth(const SynthArguments& a, CommandIo& io) {
    synth::SynthOptions options;
    const auto film = soundtrackTypeFromName(a.film);
    if (!film) {
        io.err << "veltrana synth: unknown film '" << a.film << "' (use 35va, 35vd or 16va)\n";
        return kExitUsage;
    }
    options.film = *film;
    if (!parseDpi(a.dpi, options.dpi)) {
        io.err << "veltrana synth: --dpi takes a number or two joined by x (1200, 1200x2400), "
                  "not '"
               << a.dpi << "'\n";
        return kExitUsage;
    }
    options.frames = a.frames;
    options.fps = a.fps;
    setSignal(a, options);
    setRenderEffects(a, options);
    setScanFormat(a, options);

    const std::vector<std::string> problems = synth::checkSynthOptions(options);
    if (!problems.empty()) {
        for (const std::string& problem : problems) {
            io.err << "veltrana synth: " << problem << "\n";
        }
        return kExitUsage;
    }

    synth::SynthControl control;
    control.cancelled = [&io] { return io.interrupt != nullptr && io.interrupt->load(); };
    if (io.errIsTerminal) {
        control.progress = [&io](int written, int total) {
            io.err << "\rveltrana synth: " << written << " of " << total << " scans"
                   << (written == total ? "\n" : "") << std::flush;
        };
    }
    const synth::SynthResult result = synth::renderSampleScans(options, a.dir, control);
    if (!result.ok()) {
        io.err << "veltrana synth: " << result.error << "\n";
        return result.badOptions ? kExitUsage : kExitFailed;
    }
    printRendered(a, options, result, io);
    return kExitOk;
}

// How the scans are stored: format, depth, packing, compression.
void addScanFileOptions(CLI::App& sub, SynthArguments& a) {
    sub.add_option("--compression", a.compression,
                   "Compression of the scan files: none, lzw or deflate (scanners write "
                   "uncompressed TIFF more often than not)")
        ->capture_default_str()
        ->check(CLI::IsMember({"none", "lzw", "deflate"}));
    sub.add_option("--format", a.format,
                   "File format of the scans: tiff (8 bits), tiff16, dpx or exr; the deeper "
                   "formats hold the render before its rounding to 8 bits, which the 8-bit "
                   "render is, rounded as the reader rounds")
        ->capture_default_str()
        ->check(CLI::IsMember({"tiff", "tiff16", "dpx", "exr"}));
    sub.add_option("--dpx-bits", a.dpxBits, "DPX: bits per sample, 8, 10, 12 or 16")
        ->capture_default_str()
        ->check(CLI::IsMember({8, 10, 12, 16}));
    sub.add_option("--dpx-packing", a.dpxPacking,
                   "DPX: a or b (filled, the padding in the low or the high bits) or packed")
        ->capture_default_str()
        ->check(CLI::IsMember({"a", "b", "packed"}));
    sub.add_option("--dpx-byte-order", a.dpxByteOrder, "DPX: big or little")
        ->capture_default_str()
        ->check(CLI::IsMember({"big", "little"}));
    sub.add_flag("--exr-half", a.exrHalf, "OpenEXR: half-float samples (default: float)");
    sub.add_flag("--exr-tiled", a.exrTiled, "OpenEXR: tiles of 64 x 64 (default: scanlines)");
}

// What the scanner adds: strips, grain, blur, jitter, uneven light, weave.
void addScannerOptions(CLI::App& sub, SynthArguments& a) {
    sub.add_flag("--long-strip", a.longStrip, "16 mm only: about four frames per scan");
    sub.add_flag("--noise", a.noise, "Film grain and scanner noise");
    sub.add_flag("--blur", a.blur, "Scanner optics: about one pixel of blur");
    sub.add_option("--jitter", a.jitter,
                   "Largest random offset of each scan's start, in rows along the film")
        ->capture_default_str();
    sub.add_option("--variant", a.variant,
                   "Picks the pictures, jitter and noise; the same options and variant give "
                   "the same files")
        ->capture_default_str();
    sub.add_option("--falloff", a.falloff,
                   "Uneven light along the film: each scan this many percent darker at both "
                   "ends than in the middle (0 to 80)")
        ->capture_default_str();
    sub.add_option("--weave", a.weave,
                   "Sideways weave: each scan's film shifted by a random 0 to this many columns")
        ->capture_default_str();
}

// What the film itself brings: fractional starts, silences, bias, the sync
// test, shrinkage, the whole aperture and a slanted frame.
void addFilmEffectOptions(CLI::App& sub, SynthArguments& a) {
    sub.add_flag("--fractional-starts", a.fractionalStarts,
                 "Scans start between rows of the film (truth.json records the fractional "
                 "joins as joinsExact)");
    sub.add_flag("--silence", a.silence,
                 "Passages of silence and of very low level (-40 dB), 0.2 s each, every 0.8 s");
    sub.add_flag("--nr-bias", a.nrBias,
                 "Variable area: a noise-reduction bias that narrows the clear band when the "
                 "sound is quiet");
    CLI::Option* marks = sub.add_option(
        "--sync-mark", a.syncMarks,
        "The sync test (repeatable): this frame's picture is white and a 1 kHz burst one frame "
        "long is printed the advance ahead of it, over a silent track");
    sub.add_option("--advance", a.syncAdvance,
                   "Frames the sync marks' bursts are printed ahead of their pictures (default "
                   "20 on 35 mm, 26 on 16 mm)")
        ->check(CLI::NonNegativeNumber)
        ->needs(marks);
    sub.add_option("--shrink", a.shrink,
                   "The film shrunk along its length by this many percent (0 to 5): give the "
                   "rendered resolution by hand to the jobs")
        ->capture_default_str();
    sub.add_flag("--full-aperture", a.fullAperture,
                 "The whole width of the film: both perforation rows (one on 16 mm), the "
                 "film's edges with the scanner's light beside them and the dark gate beyond; "
                 "--weave then moves the film within the gate (at most 0.04 cm)");
    sub.add_option("--perspective", a.perspective,
                   "A frame photographed at a slant: the film's advance differs by this many "
                   "rows per frame between the track's centre and the picture's (-20 to 20)")
        ->capture_default_str();
}

} // namespace

Command addSynthCommand(CLI::App& app) {
    CLI::App* sub = app.add_subcommand(
        "synth", "Render sample scans of a film strip carrying a known sound, with the truth "
                 "(truth.json, truth.wav) beside them");
    auto a = std::make_shared<SynthArguments>();
    sub->add_option(
           "dir", a->dir,
           "Directory to write frame_0001.tif (.dpx, .exr) ..., truth.json and truth.wav into. It "
           "must be new or empty (see --force); nothing appears in it unless the "
           "whole render succeeds")
        ->required();
    sub->add_option("--film", a->film, "Film: 35va, 35vd or 16va")->capture_default_str();
    sub->add_option("--dpi", a->dpi,
                    "Scan resolution: N for both axes, or XxY (across x along the film)")
        ->capture_default_str();
    sub->add_option("--frames", a->frames, "Number of scans")->capture_default_str();
    sub->add_option("--fps", a->fps, "Film speed, whole frames per second from 16 to 60")
        ->capture_default_str();
    sub->add_option("--signal", a->signal,
                    "Sound on the film: tone, sweep, mix, speech (noise shaped like speech, "
                    "never repeating), silent, or a sound file (WAV of any rate, resampled to "
                    "the film's rate)")
        ->capture_default_str();
    CLI::Option* color = sub->add_flag("--color", a->color, "Colour scans (three channels)");
    sub->add_flag("--grey", a->grey, "Grey scans (one channel; the default)")->excludes(color);
    CLI::Option* track =
        sub->add_option("--track", a->track,
                        "The edge of each scan the band runs along: top or bottom (the film "
                        "across the scans, later film further left), left (the picture upright, "
                        "later film lower) or right (the same scanned from the base side, "
                        "mirrored)")
            ->check(CLI::IsMember({"top", "bottom", "left", "right"}))
            ->capture_default_str();
    sub->add_option("--rotation", a->track, "As --track: up (top) or down (bottom)")
        ->check(CLI::IsMember({"up", "down"}))
        ->excludes(track);
    addScannerOptions(*sub, *a);
    addScanFileOptions(*sub, *a);
    addFilmEffectOptions(*sub, *a);
    sub->add_flag("--force", a->force,
                  "Replace a directory that holds an earlier render (its scans, truth files and "
                  "the soundtrack job's leng.txt, v.txt, z.txt, r.txt) and nothing else");
    return {sub, [a](CommandIo& io) { return runSynth(*a, io); }};
}

} // namespace veltrana::cli
