#include "cli/options.h"

#include "geometry/trace.h"
#include "job/frame_sequence.h"
#include "report/reporting_observer.h"

#include <algorithm>

#include <charconv>
#include <cstdio>
#include <limits>
#include <ostream>
#include <system_error>

namespace veltrana::cli {

namespace {

std::optional<int> parseDpiNumber(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

// What is wrong with a frame number as given, or nothing.
std::string frameNumberProblem(const std::string& text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc::result_out_of_range && end == text.data() + text.size()) {
        return "\"" + text + "\" is too large: frame numbers go up to " +
               std::to_string(std::numeric_limits<int>::max());
    }
    if (ec != std::errc() || end != text.data() + text.size() || value < 1) {
        return "\"" + text + "\" is not a frame number: frames count from 1";
    }
    return {};
}

// More memory than any machine has, in MB (a petabyte).
constexpr std::int64_t kMostMemoryMb = std::int64_t{1} << 30;

// A check that refuses an empty value, saying `why`.
CLI::Validator nonEmpty(const std::string& why) {
    return CLI::Validator(
        [why](const std::string& text) { return text.empty() ? why : std::string(); }, "");
}

// --max-megapixels, --threads and --max-memory: what the run may take.
void addReadingOptions(CLI::App& command, JobOptions& options) {
    command
        .add_option("--max-megapixels", options.maxMegapixels,
                    "The largest scan to read, in millions of pixels; larger files are refused "
                    "before they are decoded")
        ->capture_default_str()
        ->check(
            [](const std::string& text) -> std::string {
                double value = 0;
                const auto [end, ec] =
                    std::from_chars(text.data(), text.data() + text.size(), value);
                if (ec != std::errc() || end != text.data() + text.size() || !(value > 0) ||
                    value > 1e6) {
                    return "\"" + text + "\" is not a number of megapixels above 0";
                }
                return {};
            },
            "MP");
    command
        .add_option("--threads", options.threads,
                    "Scans read at once; 0 for every core this process may use (the result is "
                    "the same for any number)")
        ->capture_default_str()
        ->check(CLI::Range(0, 256));
    command
        .add_option("--max-memory", options.maxMemoryMb,
                    "The memory the scans being read may take at once, in MB: fewer are read at "
                    "once when they would take more, and a scan larger than that is read alone "
                    "(default: half of what this process may use, its control group's limit or "
                    "the memory the system has available)")
        ->check(CLI::Range(std::int64_t{1}, kMostMemoryMb))
        ->type_name("MB");
}

} // namespace

std::optional<ScanResolution> parseDpi(std::string_view text) {
    const std::size_t colon = text.find(':');
    const auto x = parseDpiNumber(text.substr(0, colon));
    if (!x) {
        return std::nullopt;
    }
    if (colon == std::string_view::npos) {
        return ScanResolution{*x, *x};
    }
    const auto y = parseDpiNumber(text.substr(colon + 1));
    if (!y) {
        return std::nullopt;
    }
    return ScanResolution{*x, *y};
}

std::optional<ScanResolution> manualResolution(const JobOptions& options) {
    if (options.dpi.empty()) {
        return std::nullopt;
    }
    return parseDpi(options.dpi);
}

int lastFrame(const JobOptions& options) {
    if (options.last > 0) {
        return options.last;
    }
    const Result<FrameSequence> sequence = listFrameSequence(options.frames);
    return sequence ? std::max(static_cast<int>(sequence->frames.size()), 1) : 1;
}

ScanLimits scanLimits(const JobOptions& options) {
    ScanLimits limits;
    limits.maxMegapixels = options.maxMegapixels;
    return limits;
}

ScanRunSettings scanRunSettings(const JobOptions& options, const std::atomic<bool>* interrupt) {
    ScanRunSettings settings;
    settings.inputPath = options.frames;
    settings.startFrame = options.first;
    settings.stopFrame = lastFrame(options);
    settings.soundtrackType = filmType(options.film);
    settings.longStrip = options.longStrip;
    settings.inverse = options.inverse;
    settings.trackSide = trackSideFromName(options.track).value_or(TrackSide::Top);
    if (const auto manual = manualResolution(options)) {
        settings.manualResolution = true;
        settings.resolutionX = manual->dpiX;
        settings.resolutionY = manual->dpiY;
    }
    settings.scanLimits = scanLimits(options);
    settings.threads = options.threads;
    settings.stopRequested = interrupt;
    return settings;
}

std::int64_t memoryBudgetBytes(const JobOptions& options) {
    constexpr std::int64_t kMegabyte = 1 << 20;
    return options.maxMemoryMb > 0 ? options.maxMemoryMb * kMegabyte : defaultMemoryBudgetBytes();
}

SoundtrackType filmType(const std::string& name) {
    return soundtrackTypeFromName(name).value_or(SoundtrackType::VariableArea35);
}

void addJobOptions(CLI::App& command, JobOptions& options, const std::string& outputHelp) {
    command
        .add_option("frames", options.frames,
                    "Frame directory, or any .tif scan in it; its .tif/.tiff files in "
                    "natural order are frames 1, 2, ...")
        ->required();
    command.add_option("-o,--output", options.output, outputHelp)
        ->required()
        ->check(nonEmpty("no file name was given"));
    command.add_option("--first", options.first, "First frame of the range (1-based)")
        ->capture_default_str()
        ->check(frameNumberProblem, "N");
    command
        .add_option("--last", options.last,
                    "Last frame of the range, included (default: the last scan)")
        ->check(frameNumberProblem, "N");
    command
        .add_option("--film", options.film,
                    "Film standard: 35va (35 mm variable area), 35vd (35 mm variable density), "
                    "16va (16 mm variable area)")
        ->capture_default_str()
        ->check(CLI::IsMember({"35va", "35vd", "16va"}));
    command.add_flag("--long-strip", options.longStrip,
                     "16 mm scanned as a long strip, about four frames per scan (default: off)");
    command
        .add_option("--dpi", options.dpi,
                    "Manual scan resolution in dpi, X or X:Y (X across the film, Y along it); "
                    "default: measured on the first frame")
        ->check(
            [](const std::string& text) -> std::string {
                return parseDpi(text) ? std::string() : "expected X or X:Y in dpi, e.g. 1200:1200";
            },
            "X[:Y]");
    command.add_flag("--inverse", options.inverse,
                     "The film runs the other way through the scans (default: off)");
    command
        .add_option("--track", options.track,
                    "The edge of the scans the soundtrack runs along: top or bottom (the film "
                    "runs across the scans, later film further left), left (the picture "
                    "upright, later film lower), right (the same scanned from the base side, "
                    "mirrored)")
        ->capture_default_str()
        ->check(CLI::IsMember({"top", "bottom", "left", "right"}));
    addReadingOptions(command, options);
    command
        .add_option("--report", options.report,
                    "Write a run report into DIR (created if missing): report.html and its "
                    "pictures in report_files/, showing the settings, the frames worth a look "
                    "with what was measured on them, and plots of the run; written whatever "
                    "the run's end")
        ->check(nonEmpty("no folder was given"))
        ->type_name("DIR");
    command.add_flag("--trace", options.trace,
                     "Print the measuring code's trace lines on standard output (default: off)");
    command.add_flag("-q,--quiet", options.quiet,
                     "No log lines or progress bar; errors are still reported (default: off)");
}

int checkBeforeRun(const JobOptions& options, std::string_view what, bool sideFilesBesideScans,
                   FolderLocks& locks, CommandIo& io) {
    if (options.longStrip && options.film != "16va") {
        io.err << "veltrana: --long-strip: a long strip is a 16 mm scan (--film 16va)\n"
               << "Run with --help for more information.\n";
        return kExitUsage;
    }
    Status refused;
    if (!options.report.empty()) {
        refused = checkReportLeavesRun(options.frames, options.output, options.report, what);
    }
    if (refused) {
        refused = lockJobFolders(locks, options.frames, sideFilesBesideScans, options.report);
    }
    if (!refused) {
        io.err << "veltrana: " << refused.message() << "\n";
        return kExitFailed;
    }
    return kExitOk;
}

ScopedTrace::ScopedTrace(bool on) : previous(traceEnabled()) {
    if (on) {
        setTraceEnabled(true);
    }
}

ScopedTrace::~ScopedTrace() {
    setTraceEnabled(previous);
}

} // namespace veltrana::cli
