// truth.json: every parameter of a render, the layout, and where each scan
// lies on the strip, written for people and tests alike.

#include "synth/internal.h"

#include <fstream>
#include <sstream>

namespace veltrana::synth {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kFormat = "veltrana-synth-truth";
constexpr int kFormatVersion = 1;

Json dpiJson(ScanResolution r) {
    return Json{{"dpiX", r.dpiX}, {"dpiY", r.dpiY}};
}

ScanResolution dpiFrom(const Json& j) {
    return {j.at("dpiX").get<int>(), j.at("dpiY").get<int>()};
}

std::optional<SignalKind> signalKindFromName(const std::string& name) {
    for (SignalKind kind : {SignalKind::Mix, SignalKind::Tone, SignalKind::Sweep, SignalKind::File,
                            SignalKind::Speech, SignalKind::Silent}) {
        if (signalKindName(kind) == name) {
            return kind;
        }
    }
    return std::nullopt;
}

} // namespace

namespace detail {

nlohmann::ordered_json truthToJson(const SynthTruth& truth) {
    const SynthOptions& o = truth.options;
    const SynthLayout& l = truth.layout;
    Json j;
    j["format"] = kFormat;
    j["version"] = kFormatVersion;
    j["options"] = Json{
        {"film", std::string(soundtrackTypeName(o.film))},
        {"dpiX", o.dpi.dpiX},
        {"dpiY", o.dpi.dpiY},
        {"frames", o.frames},
        {"fps", o.fps},
        {"signal", signalKindName(o.signal)},
        {"signalFile", o.signal == SignalKind::File ? o.signalFile.string() : std::string()},
        {"color", o.color},
        {"rotation", o.rotationUp ? "up" : "down"},
        {"track", std::string(trackSideName(trackSideOf(o)))},
        {"longStrip", o.longStrip},
        {"noise", o.noise},
        {"blur", o.blur},
        {"jitter", o.jitter},
        {"variant", o.variant},
        {"falloffPercent", o.falloffPercent},
        {"weave", o.weave},
        {"fractionalStarts", o.fractionalStarts},
        {"silence", o.silence},
        {"noiseReductionBias", o.noiseReductionBias},
        {"syncMarks", o.syncMarks},
        {"syncAdvance", syncAdvanceOf(o)},
        {"shrinkPercent", o.shrinkPercent},
        {"perspectiveRows", o.perspectiveRows},
        {"fullAperture", o.fullAperture},
    };
    // only a render in a deeper format says so: the default's file stays as it was
    if (o.format != ScanFormat::Tiff) {
        j["options"]["scanFormat"] = scanFormatName(o.format);
    }
    j["orientation"] = Json{
        {"workingImage",
         "the scan file turned 90 degrees anticlockwise: rows run along the film, row r of "
         "a scan shows strip row start + r; strip row t carries sample t of truth.wav"},
        {"files", "the film runs across each file, later film further left (the right-most "
                  "column is working row 0)"},
        {"up", "band along the top edge of the file, at the left of the working image"},
        {"down", "the UP file mirrored top to bottom: band along the bottom edge, at the "
                 "right of the working image, the film running the same way"},
        {"joins", "joins[k] is the row of scan k that shows the same film as row 0 of scan "
                  "k + 1, in the working orientation, before any trim"},
        {"joinsExact", "the same, fractional: the difference of the scans' startExact, the "
                       "strip position (between strip rows with fractional starts) that row 0 "
                       "shows; start is its whole part"},
        {"weave", "the film lies that many columns further from the band's edge of the scan"},
    };
    j["layout"] = Json{
        {"trackWidth", l.trackWidth},
        {"framePitch", l.framePitch},
        {"sampleRate", l.sampleRate},
        {"scanColumns", l.scanColumns},
        {"scanRows", l.scanRows},
        {"framesPerScan", l.framesPerScan},
        {"scanStep", l.scanStep},
        {"frameLineRows", l.frameLineRows},
        {"firstFrameLine", l.firstFrameLine},
        {"jitterLimit", l.jitterLimit},
        {"sliverColumns", l.sliverColumns},
        {"perforationRows", l.perforationRows},
        {"trackFirstColumn", l.trackFirstColumn},
        {"trackEndColumn", l.trackEndColumn},
        {"bandCentre", l.bandCentre},
        {"bandHalfWidthMin", l.bandHalfWidthMin},
        {"bandHalfWidthMax", l.bandHalfWidthMax},
        {"pictureFirstColumn", l.pictureFirstColumn},
    };
    if (o.fullAperture) {
        // aperture columns for the gate and the window, window columns for
        // the film (see SynthAperture)
        const SynthAperture& a = l.aperture;
        j["layout"]["apertureColumns"] = l.apertureColumns;
        j["layout"]["windowFirstColumn"] = l.windowFirstColumn;
        j["layout"]["aperture"] = Json{
            {"gateColumns", a.gateColumns},
            {"edgeColumn", a.edgeColumn},
            {"farEdgeColumn", a.farEdgeColumn},
            {"holeColumn", a.holeColumn},
            {"pictureEndColumn", a.pictureEndColumn},
            {"farHoleFirst", a.farHoleFirst},
            {"farHoleEnd", a.farHoleEnd},
            {"holeRows16", a.holeRows16},
        };
    }
    j["resolution"] = Json{
        {"rendered", dpiJson(o.dpi)},
        {"expected", dpiJson(truth.expected)},
        {"detected", dpiJson(truth.detected)},
    };
    j["signal"] = Json{
        {"name", truth.signalName},       {"file", "truth.wav"},      {"sampleRate", l.sampleRate},
        {"samples", truth.signalSamples}, {"peak", truth.signalPeak},
    };
    Json scans = Json::array();
    for (const SynthScan& scan : truth.scans) {
        Json lines = Json::array();
        for (const auto& [first, end] : scan.frameLines) {
            lines.push_back(Json::array({first, end}));
        }
        scans.push_back(Json{{"file", scan.file},
                             {"start", scan.start},
                             {"startExact", scan.startExact},
                             {"weave", scan.weave},
                             {"frameLines", lines}});
    }
    j["scans"] = scans;
    j["joins"] = truth.joins;
    j["joinsExact"] = truth.joinsExact;
    j["warnings"] = truth.warnings;
    return j;
}

} // namespace detail

SynthTruthRead readSynthTruth(const std::filesystem::path& truthJson) {
    SynthTruthRead result;
    std::ifstream in(truthJson, std::ios::binary);
    if (!in) {
        result.error = "cannot open " + truthJson.string();
        return result;
    }
    std::ostringstream text;
    text << in.rdbuf();
    const Json j = Json::parse(text.str(), nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        result.error = truthJson.string() + " is not JSON";
        return result;
    }
    if (j.value("format", std::string()) != kFormat) {
        result.error = truthJson.string() + " is not a truth file of veltrana synth";
        return result;
    }
    try {
        SynthTruth& t = result.truth;
        const Json& o = j.at("options");
        const auto film = soundtrackTypeFromName(o.at("film").get<std::string>());
        const auto signal = signalKindFromName(o.at("signal").get<std::string>());
        if (!film || !signal) {
            result.error = truthJson.string() + ": unknown film or signal";
            return result;
        }
        t.options.film = *film;
        t.options.dpi = {o.at("dpiX").get<int>(), o.at("dpiY").get<int>()};
        t.options.frames = o.at("frames").get<int>();
        t.options.fps = o.at("fps").get<int>();
        t.options.signal = *signal;
        t.options.signalFile = o.at("signalFile").get<std::string>();
        t.options.color = o.at("color").get<bool>();
        t.options.rotationUp = o.at("rotation").get<std::string>() == "up";
        // "track" tells upright scans apart; truth files made before them lack it
        const TrackSide side =
            trackSideFromName(o.value("track", std::string("top"))).value_or(TrackSide::Top);
        t.options.upright = isUpright(side);
        t.options.longStrip = o.at("longStrip").get<bool>();
        t.options.noise = o.at("noise").get<bool>();
        t.options.blur = o.at("blur").get<bool>();
        t.options.jitter = o.at("jitter").get<int>();
        t.options.variant = o.at("variant").get<std::uint32_t>();
        // the effects of real scans, absent from truth files made before them
        t.options.falloffPercent = o.value("falloffPercent", 0.0);
        t.options.weave = o.value("weave", 0);
        t.options.format = scanFormatFromName(o.value("scanFormat", std::string("tiff")))
                               .value_or(ScanFormat::Tiff);
        t.options.fractionalStarts = o.value("fractionalStarts", false);
        t.options.silence = o.value("silence", false);
        t.options.noiseReductionBias = o.value("noiseReductionBias", false);
        t.options.syncMarks = o.value("syncMarks", std::vector<int>{});
        t.options.syncAdvance = o.value("syncAdvance", -1);
        t.options.shrinkPercent = o.value("shrinkPercent", 0.0);
        t.options.perspectiveRows = o.value("perspectiveRows", 0.0);
        t.options.fullAperture = o.value("fullAperture", false);

        const Json& l = j.at("layout");
        SynthLayout& layout = t.layout;
        layout.trackWidth = l.at("trackWidth").get<int>();
        layout.framePitch = l.at("framePitch").get<int>();
        layout.sampleRate = l.at("sampleRate").get<int>();
        layout.scanColumns = l.at("scanColumns").get<int>();
        layout.scanRows = l.at("scanRows").get<int>();
        layout.framesPerScan = l.at("framesPerScan").get<int>();
        layout.scanStep = l.at("scanStep").get<int>();
        layout.frameLineRows = l.at("frameLineRows").get<int>();
        layout.firstFrameLine = l.at("firstFrameLine").get<int>();
        layout.jitterLimit = l.at("jitterLimit").get<int>();
        layout.sliverColumns = l.at("sliverColumns").get<int>();
        layout.perforationRows = l.at("perforationRows").get<int>();
        layout.trackFirstColumn = l.at("trackFirstColumn").get<double>();
        layout.trackEndColumn = l.at("trackEndColumn").get<double>();
        layout.bandCentre = l.at("bandCentre").get<double>();
        layout.bandHalfWidthMin = l.at("bandHalfWidthMin").get<double>();
        layout.bandHalfWidthMax = l.at("bandHalfWidthMax").get<double>();
        layout.pictureFirstColumn = l.at("pictureFirstColumn").get<int>();
        layout.apertureColumns = l.value("apertureColumns", 0);
        layout.windowFirstColumn = l.value("windowFirstColumn", 0);
        if (l.contains("aperture")) {
            const Json& a = l.at("aperture");
            SynthAperture& aperture = layout.aperture;
            aperture.gateColumns = a.at("gateColumns").get<int>();
            aperture.edgeColumn = a.at("edgeColumn").get<int>();
            aperture.farEdgeColumn = a.at("farEdgeColumn").get<int>();
            aperture.holeColumn = a.at("holeColumn").get<int>();
            aperture.pictureEndColumn = a.at("pictureEndColumn").get<int>();
            aperture.farHoleFirst = a.at("farHoleFirst").get<int>();
            aperture.farHoleEnd = a.at("farHoleEnd").get<int>();
            aperture.holeRows16 = a.at("holeRows16").get<int>();
        }

        const Json& r = j.at("resolution");
        t.expected = dpiFrom(r.at("expected"));
        t.detected = dpiFrom(r.at("detected"));

        const Json& s = j.at("signal");
        t.signalName = s.at("name").get<std::string>();
        t.signalSamples = s.at("samples").get<int>();
        t.signalPeak = s.at("peak").get<float>();

        for (const Json& scan : j.at("scans")) {
            SynthScan one;
            one.file = scan.at("file").get<std::string>();
            one.start = scan.at("start").get<int>();
            one.startExact = scan.value("startExact", static_cast<double>(one.start));
            one.weave = scan.value("weave", 0);
            for (const Json& line : scan.at("frameLines")) {
                one.frameLines.emplace_back(line.at(0).get<int>(), line.at(1).get<int>());
            }
            t.scans.push_back(std::move(one));
        }
        t.joins = j.at("joins").get<std::vector<int>>();
        if (j.contains("joinsExact")) {
            t.joinsExact = j.at("joinsExact").get<std::vector<double>>();
        } else {
            t.joinsExact.assign(t.joins.begin(), t.joins.end());
        }
        t.warnings = j.at("warnings").get<std::vector<std::string>>();
        if ((t.joins.size() + 1 != t.scans.size() || t.joinsExact.size() != t.joins.size()) &&
            !t.scans.empty()) {
            result.error = truthJson.string() + ": the joins do not match the scans";
        }
    } catch (const nlohmann::json::exception& e) {
        result.error = truthJson.string() + ": " + e.what();
    }
    return result;
}

} // namespace veltrana::synth
