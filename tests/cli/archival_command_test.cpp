// veltrana soundtrack --archival and its parts, the command line run
// in-process on renders with what real scans have (fall-off, weave,
// fractional starts), measured against the truth they were rendered from.

#include "geometry/frame_correction.h"
#include "reading/scan_reader.h"
#include "support/command_line.h"
#include "support/test_support.h"
#include "synth/synth.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

struct Sound {
    SF_INFO info{};
    SF_BROADCAST_INFO bext{};
    bool hasBext = false;
    std::vector<double> samples; // in 8-bit steps around 0
};

Sound readSound(const fs::path& path) {
    Sound s;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &s.info);
    if (file == nullptr) {
        return s;
    }
    s.hasBext = sf_command(file, SFC_GET_BROADCAST_INFO, &s.bext, sizeof s.bext) == SF_TRUE;
    std::vector<int> values(static_cast<std::size_t>(s.info.frames));
    sf_read_int(file, values.data(), s.info.frames);
    sf_close(file);
    // whole units at the file's depth, in 8-bit steps
    for (int v : values) {
        s.samples.push_back(static_cast<double>(v) / 16777216.0);
    }
    return s;
}

struct JoinLine {
    int frame = 0;
    double precise = 0;
    double used = 0;
    std::string method;
    double precision = -1; // rows, one standard deviation; -1 when not given
};

std::vector<JoinLine> readJoins(const fs::path& csv) {
    std::istringstream in(test::readFileText(csv));
    std::string line;
    std::getline(in, line); // the header
    std::vector<JoinLine> joins;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream row(line);
        for (std::string field; std::getline(row, field, ',');) {
            fields.push_back(field);
        }
        if (fields.size() == 8) {
            joins.push_back({std::stoi(fields[0]), fields[3].empty() ? -1 : std::stod(fields[3]),
                             std::stod(fields[6]), fields[5],
                             fields[7].empty() ? -1 : std::stod(fields[7])});
        }
    }
    return joins;
}

std::vector<int> readLengths(const fs::path& path) {
    std::istringstream in(test::readFileText(path));
    std::vector<int> values;
    for (int v; in >> v;) {
        values.push_back(v);
    }
    return values;
}

// The signal at a fractional index, read linearly between its samples.
double signalAt(const std::vector<float>& signal, double at) {
    const auto i = static_cast<long>(std::floor(at));
    if (i < 0 || i + 1 >= static_cast<long>(signal.size())) {
        return 0;
    }
    const double f = at - static_cast<double>(i);
    return (1 - f) * signal[static_cast<std::size_t>(i)] +
           f * signal[static_cast<std::size_t>(i + 1)];
}

// The signal-to-noise ratio of the recovered sound against the rendered one,
// at the best scale and alignment, on the middle of the sound.
double snrDb(const std::vector<double>& recovered, const std::vector<float>& signal,
             double offset) {
    double best = -1e9;
    const std::size_t from = recovered.size() / 10;
    const std::size_t to = recovered.size() - recovered.size() / 10;
    for (double lag = -8; lag <= 8; lag += 0.05) {
        double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
        double n = 0;
        for (std::size_t i = from; i < to; ++i) {
            const double x = recovered[i];
            const double y = signalAt(signal, offset + lag + static_cast<double>(i));
            sx += x;
            sy += y;
            sxx += x * x;
            syy += y * y;
            sxy += x * y;
            n += 1;
        }
        const double vx = sxx - sx * sx / n;
        const double vy = syy - sy * sy / n;
        const double cov = sxy - sx * sy / n;
        if (vx <= 0 || vy <= 0) {
            continue;
        }
        // what the best-scaled signal leaves of the recovered sound
        const double explained = cov * cov / vy;
        const double noise = std::max(vx - explained, 1e-12);
        best = std::max(best, 10 * std::log10(explained / noise));
    }
    return best;
}

class ArchivalCommand : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new test::TempDir;
        synth::SynthOptions options;
        options.film = SoundtrackType::VariableArea35;
        options.frames = 10;
        options.fps = 25;
        options.color = true;
        options.noise = true;
        options.falloffPercent = 40;
        options.weave = 3;
        options.fractionalStarts = true;
        const synth::SynthResult rendered = synth::renderSampleScans(options, *dir / "scans");
        ASSERT_TRUE(rendered.ok()) << rendered.error;
        truth = new synth::SynthTruth(rendered.truth);
    }
    static void TearDownTestSuite() {
        delete truth;
        delete dir;
    }

    static fs::path scans() { return *dir / "scans"; }

    test::ProcessResult run(const fs::path& wav, std::vector<std::string> extra) {
        std::vector<std::string> args{"soundtrack", scans().string(), "-o",
                                      wav.string(), "--fps",          "25"};
        args.insert(args.end(), extra.begin(), extra.end());
        return test::runCommandLine(args);
    }

    std::vector<FrameBounds> bounds() const {
        std::vector<FrameBounds> b;
        for (const synth::SynthScan& s : truth->scans) {
            const LoadedScan scan = loadScan(scans() / s.file);
            b.push_back(findFrameBounds(scan.value(), truth->options.film, false));
        }
        return b;
    }

    // Where sample 0 of the recovered sound lies in truth.wav.
    double soundOffset() const {
        const FrameBounds first = bounds().front();
        return synth::trimmedStartExact(*truth, 0, first);
    }

    static test::TempDir* dir;
    static synth::SynthTruth* truth;
};

test::TempDir* ArchivalCommand::dir = nullptr;
synth::SynthTruth* ArchivalCommand::truth = nullptr;

TEST_F(ArchivalCommand, DeliversA24Bit48kHzBroadcastWaveWithAJoinReport) {
    test::TempDir out;
    const fs::path wav = out / "reel.wav";
    const test::ProcessResult r = run(wav, {"--archival", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;

    const Sound sound = readSound(wav);
    EXPECT_EQ(sound.info.samplerate, 48000);
    EXPECT_EQ(sound.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    ASSERT_TRUE(sound.hasBext);
    EXPECT_EQ(std::string(sound.bext.originator, strnlen(sound.bext.originator, 32)), "Veltrana");
    const std::string description = sound.bext.description;
    EXPECT_NE(description.find("35 mm variable area"), std::string::npos) << description;
    EXPECT_NE(description.find("1200 x 1200 dpi, frames 1 to 10, 25 fps"), std::string::npos)
        << description;
    const std::string history(sound.bext.coding_history, sound.bext.coding_history_size);
    EXPECT_NE(history.find("A=PCM,F=22675,W=32,M=mono"), std::string::npos) << history;
    EXPECT_NE(history.find("A=PCM,F=48000,W=24,M=mono"), std::string::npos) << history;
    EXPECT_EQ(std::string(sound.bext.origination_date, 10).size(), 10u);

    // the joins to a fraction of a row, against the true ones
    const std::vector<JoinLine> joins = readJoins(out / "joins.csv");
    ASSERT_EQ(joins.size(), 9u);
    const std::vector<FrameBounds> b = bounds();
    double worst = 0;
    double cumulative = 0;
    for (std::size_t k = 0; k < joins.size(); ++k) {
        EXPECT_EQ(joins[k].frame, static_cast<int>(k) + 2);
        EXPECT_EQ(joins[k].method, "precise");
        const double expected =
            synth::trimmedJoinExact(*truth, static_cast<int>(k), b[k], b[k + 1]);
        const double error = std::abs(joins[k].precise - expected);
        worst = std::max(worst, error);
        cumulative += joins[k].used;
        // each join says how precise it is, and is no further off than that says
        EXPECT_GT(joins[k].precision, 0.0);
        EXPECT_LE(error, 4 * joins[k].precision + 0.005) << "frame " << joins[k].frame;
    }
    std::printf("[ figures  ] archival joins: worst %.3f rows\n", worst);
    EXPECT_LE(worst, 0.03);

    // leng.txt: differences of the rounded cumulative joins, so whole rows add up
    const std::vector<int> lengths = readLengths(scans() / "leng.txt");
    ASSERT_EQ(lengths.size(), 10u);
    EXPECT_EQ(lengths.front(), 0);
    int sum = 0;
    for (int v : lengths) {
        sum += v;
    }
    EXPECT_EQ(sum, static_cast<int>(std::lround(cumulative)));
}

TEST_F(ArchivalCommand, SoundsBetterThanTheStandardPathOnUnevenlyLitScans) {
    test::TempDir out;
    ASSERT_EQ(run(out / "standard.wav", {"-q"}).status, 0);
    ASSERT_EQ(run(out / "archival.wav", {"--archival", "--rate", "film", "-q"}).status, 0);
    const synth::TruthSignal signal = synth::readTruthSignal(scans() / "truth.wav");
    ASSERT_TRUE(signal.ok()) << signal.error;

    const Sound standard = readSound(out / "standard.wav");
    const Sound archival = readSound(out / "archival.wav");
    EXPECT_EQ(archival.info.samplerate, 22675);
    EXPECT_EQ(archival.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    // at the film's rate both hold the whole rows of leng.txt and the last frame
    EXPECT_EQ(archival.samples.size(), standard.samples.size());
    const double offset = soundOffset();
    const double standardDb = snrDb(standard.samples, signal.samples, offset);
    const double archivalDb = snrDb(archival.samples, signal.samples, offset);
    std::printf("[ figures  ] SNR standard %.1f dB, archival %.1f dB\n", standardDb, archivalDb);
    EXPECT_GE(archivalDb, standardDb + 10);
}

// --channel Y reads each pixel's luminance in both modes, as the standard
// samples always have: on the colour render both recover the sound, the
// archival joins stay on the true ones, and archival levels keep their gain.
TEST_F(ArchivalCommand, LuminanceIsReadInBothModes) {
    test::TempDir out;
    ASSERT_EQ(run(out / "standard.wav", {"--channel", "Y", "-q"}).status, 0);
    const test::ProcessResult archivalRun =
        run(out / "archival.wav", {"--channel", "Y", "--archival", "--rate", "film", "-q"});
    ASSERT_EQ(archivalRun.status, 0) << archivalRun.err;
    const synth::TruthSignal signal = synth::readTruthSignal(scans() / "truth.wav");
    ASSERT_TRUE(signal.ok()) << signal.error;

    const double offset = soundOffset();
    const double standardDb =
        snrDb(readSound(out / "standard.wav").samples, signal.samples, offset);
    const double archivalDb =
        snrDb(readSound(out / "archival.wav").samples, signal.samples, offset);
    std::printf("[ figures  ] Y: SNR standard %.1f dB, archival %.1f dB\n", standardDb, archivalDb);
    EXPECT_GE(standardDb, 10.0);
    EXPECT_GE(archivalDb, standardDb + 10);

    const std::vector<JoinLine> joins = readJoins(out / "joins.csv");
    ASSERT_EQ(joins.size(), 9u);
    const std::vector<FrameBounds> b = bounds();
    for (std::size_t k = 0; k < joins.size(); ++k) {
        const double expected =
            synth::trimmedJoinExact(*truth, static_cast<int>(k), b[k], b[k + 1]);
        EXPECT_NEAR(joins[k].used, expected, 0.1) << "join of frame " << joins[k].frame;
    }
}

TEST_F(ArchivalCommand, SixteenBitsAloneKeepTheStandardSoundAtItsScale) {
    test::TempDir out;
    ASSERT_EQ(run(out / "standard.wav", {"-q"}).status, 0);
    ASSERT_EQ(run(out / "deep.wav", {"--bits", "16", "-q"}).status, 0);
    const Sound standard = readSound(out / "standard.wav");
    const Sound deep = readSound(out / "deep.wav");
    EXPECT_EQ(deep.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(deep.info.samplerate, 22675);
    EXPECT_FALSE(fs::exists(out / "joins.csv")); // no precise joins, no report
    ASSERT_EQ(deep.samples.size(), standard.samples.size());
    // the 8-bit file truncates toward zero what the 16-bit one rounds to a
    // 256th of a step: never more than a step apart
    for (std::size_t i = 0; i < deep.samples.size(); ++i) {
        ASSERT_LE(std::abs(deep.samples[i] - standard.samples[i]), 1.0 + 1.0 / 256)
            << "sample " << i << ": " << deep.samples[i] << " against " << standard.samples[i];
    }
}

TEST_F(ArchivalCommand, PreciseJoinsAloneKeepTheStandardFile) {
    test::TempDir out;
    const test::ProcessResult r = run(out / "precise.wav", {"--join", "precise"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("8-bit mono at 22675 Hz)"), std::string::npos) << r.out;
    const auto bytes = test::readFileBytes(out / "precise.wav");
    ASSERT_GE(bytes.size(), 46u);
    // the standard header: "fmt " of 18 bytes, the data right after it
    EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 42), std::string("\0\0data", 6));
    const std::vector<JoinLine> joins = readJoins(out / "joins.csv");
    ASSERT_EQ(joins.size(), 9u);
    for (const JoinLine& j : joins) {
        EXPECT_EQ(j.method, "precise");
    }
}

TEST_F(ArchivalCommand, AJoinReportThatIsAnInputIsRefusedBeforeAnyScanIsRead) {
    test::TempDir out;
    // -o beside the scans: the report would land there as joins.csv; a scan of
    // that name is an input
    const fs::path trap = scans() / "joins.csv";
    fs::create_directory(trap);
    const test::ProcessResult r = run(scans() / "reel.wav", {"--archival", "-q"});
    fs::remove(trap);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("joins.csv: it is a folder"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(scans() / "reel.wav"));
}

// The same kind of film as a scanner stores it, deeper than 8 bits: the
// archival joins read at stored depth still land on the true ones.
struct DeepCase {
    const char* name;
    synth::ScanFormat format;
};

void PrintTo(const DeepCase& c, std::ostream* out) {
    *out << c.name;
}

class DeepArchivalCommand : public testing::TestWithParam<DeepCase> {};

TEST_P(DeepArchivalCommand, JoinsWithinAFractionOfARow) {
    test::TempDir dir;
    synth::SynthOptions options;
    options.film = SoundtrackType::VariableArea35;
    options.dpi = {600, 600};
    options.frames = 5;
    options.fps = 25;
    options.noise = true;
    options.falloffPercent = 40;
    options.weave = 3;
    options.fractionalStarts = true;
    options.format = GetParam().format;
    const synth::SynthResult rendered = synth::renderSampleScans(options, dir / "scans");
    ASSERT_TRUE(rendered.ok()) << rendered.error;
    const test::ProcessResult r =
        test::runCommandLine({"soundtrack", (dir / "scans").string(), "-o",
                              (dir / "reel.wav").string(), "--fps", "25", "--archival", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;

    const std::vector<JoinLine> joins = readJoins(dir / "joins.csv");
    ASSERT_EQ(joins.size(), 4u);
    std::vector<FrameBounds> b;
    for (const synth::SynthScan& s : rendered.truth.scans) {
        const LoadedScan scan = loadScan(dir / "scans" / s.file);
        ASSERT_TRUE(scan.ok()) << scan.message();
        b.push_back(findFrameBounds(scan.value(), options.film, false));
    }
    double worst = 0;
    for (std::size_t k = 0; k < joins.size(); ++k) {
        EXPECT_EQ(joins[k].method, "precise") << "join of frame " << joins[k].frame;
        const double expected =
            synth::trimmedJoinExact(rendered.truth, static_cast<int>(k), b[k], b[k + 1]);
        worst = std::max(worst, std::abs(joins[k].precise - expected));
    }
    std::printf("[ figures  ] %s archival joins: worst %.3f rows\n", GetParam().name, worst);
    EXPECT_LE(worst, 0.2); // well within the half row a join may be off
}

INSTANTIATE_TEST_SUITE_P(Formats, DeepArchivalCommand,
                         testing::Values(DeepCase{"dpx10", synth::ScanFormat::Dpx},
                                         DeepCase{"tiff16", synth::ScanFormat::Tiff16}),
                         [](const testing::TestParamInfo<DeepCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace veltrana
