#include "soundtrack/join_evidence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace veltrana {
namespace {

// A strip of film's sound readings: smoothed noise, so that neighbouring rows
// agree and rows ten apart do not.
std::vector<float> film(int length, unsigned which = 5) {
    std::mt19937 random(which);
    std::normal_distribution<float> noise(0, 4);
    std::vector<float> white(static_cast<std::size_t>(length) + 6);
    for (float& v : white) {
        v = noise(random);
    }
    std::vector<float> smooth(static_cast<std::size_t>(length));
    for (std::size_t i = 0; i < smooth.size(); ++i) {
        for (std::size_t k = 0; k < 6; ++k) {
            smooth[i] += white[i + k] / 6;
        }
    }
    return smooth;
}

// Rows from..from+count of the strip, as a scan with a strong fall-off of the
// light reads them: 60 steps brighter at its first row than at its last.
std::vector<float> scanned(const std::vector<float>& strip, int from, int count) {
    std::vector<float> rows;
    for (int i = 0; i < count; ++i) {
        const double light = 60.0 * (1.0 - static_cast<double>(i) / count);
        rows.push_back(static_cast<float>(strip[static_cast<std::size_t>(from + i)] + 100 + light));
    }
    return rows;
}

// A pair joined at `join` by a standard search over shifts 600..999.
JoinReadings searchedPair(const std::vector<float>& previous, const std::vector<float>& current,
                          int join) {
    JoinReadings r;
    r.previousSamples = previous;
    r.samples = current;
    r.join = join;
    r.standardJoin = join;
    r.searchedFirst = 600;
    r.searchedLast = 999;
    return r;
}

TEST(OverlapCorrelation, AgreesAtTheRightJoinDespiteTheFallOff) {
    const std::vector<float> strip = film(1000);
    const std::vector<float> previous = scanned(strip, 0, 400);
    const std::vector<float> current = scanned(strip, 300, 400);
    const std::optional<double> right = overlapCorrelation(previous, current, 300);
    ASSERT_TRUE(right.has_value());
    EXPECT_GT(*right, 0.95);
    // 20 rows off the ramps alone would still correlate; less them, nothing does
    const std::optional<double> wrong = overlapCorrelation(previous, current, 280);
    ASSERT_TRUE(wrong.has_value());
    EXPECT_LT(std::abs(*wrong), 0.4);
}

TEST(JoinEvidence, SilenceBelowOneStepSaysNothing) {
    // the same film, each scan with its own noise of a third of a step
    std::mt19937 random(3);
    std::normal_distribution<float> noise(0, 0.3f);
    std::vector<float> previous(1000, 128.0f), current(1000, 128.0f);
    for (float& v : previous) {
        v += noise(random);
    }
    for (float& v : current) {
        v += noise(random);
    }
    JoinReadings r;
    r.previousSamples = previous;
    r.samples = current;
    r.join = 900;
    r.standardJoin = 900;
    r.searchedLast = 999;
    const JoinEvidence e = joinEvidence(r);
    EXPECT_FALSE(e.sounding);
    EXPECT_LT(e.soundRms, 0.4);
    EXPECT_TRUE(judgeJoin(e).empty());
}

TEST(OverlapCorrelation, NeedsEnoughSharedRows) {
    const std::vector<float> strip = film(1000);
    const std::vector<float> previous = scanned(strip, 0, 400);
    const std::vector<float> current = scanned(strip, 390, 400);
    EXPECT_FALSE(overlapCorrelation(previous, current, 390).has_value()); // 10 rows
    EXPECT_FALSE(overlapCorrelation({}, current, 0).has_value());
    EXPECT_FALSE(overlapCorrelation(previous, current, -1).has_value());
    EXPECT_TRUE(overlapReadings(previous, current, 390).current.empty());
}

TEST(ScanAdvance, IsOnePitchOrAFourFrameStrip) {
    EXPECT_EQ(scanAdvanceRows(SoundtrackType::VariableArea35, false, 907), 907);
    EXPECT_EQ(scanAdvanceRows(SoundtrackType::VariableArea16, true, 300), 1200);
    EXPECT_EQ(scanAdvanceRows(SoundtrackType::VariableArea16, false, 300), 300);
}

TEST(OffPitchTolerance, KeepsTheSameFilmDistanceAtHigherResolutions) {
    EXPECT_EQ(offPitchTolerance(907), 10.0);
    EXPECT_NEAR(offPitchTolerance(1814), 19.954, 1e-9);
}

// --- the rule -----------------------------------------------------------------

struct RuleCase {
    const char* name;
    JoinEvidence evidence;
    std::vector<JoinFlagKind> flags;
};

JoinEvidence evidence(std::optional<double> correlation, bool sounding,
                      std::optional<double> offAdvance, bool atEdge = false,
                      std::optional<double> disagreement = std::nullopt, bool preciseUsed = false) {
    JoinEvidence e;
    e.correlation = correlation;
    e.sounding = sounding;
    e.soundRms = sounding ? 3 : 0;
    e.offAdvance = offAdvance;
    e.offPitchTolerance = 10;
    e.atSearchEdge = atEdge;
    e.disagreement = disagreement;
    e.preciseTrusted = disagreement.has_value();
    e.preciseUsed = preciseUsed;
    return e;
}

JoinEvidence untrusted(JoinEvidence e) {
    e.preciseTrusted = false;
    return e;
}

class JoinRule : public testing::TestWithParam<RuleCase> {};

TEST_P(JoinRule, FlagsWhatSpeaksAgainstTheJoin) {
    std::vector<JoinFlagKind> kinds;
    for (const JoinFlag& f : judgeJoin(GetParam().evidence)) {
        kinds.push_back(f.kind);
        EXPECT_FALSE(f.reason.empty());
    }
    EXPECT_EQ(kinds, GetParam().flags);
}

INSTANTIATE_TEST_SUITE_P(
    Evidence, JoinRule,
    testing::Values(
        RuleCase{"Clean", evidence(0.98, true, 0.4), {}},
        RuleCase{"EightRowsOffIsAScannersPlacing", evidence(0.98, true, -8.0), {}},
        RuleCase{"Weak", evidence(0.21, true, 0.4), {JoinFlagKind::Weak}},
        RuleCase{"IllNumberedRampCorrelation", evidence(-0.99, true, 0), {JoinFlagKind::Weak}},
        RuleCase{"FlatBandSaysNothing", evidence(0.1, false, 0), {}},
        RuleCase{"TooShortToCorrelate", evidence(std::nullopt, true, 0), {}},
        RuleCase{"OffPitch", evidence(0.9, true, 25.0), {JoinFlagKind::OffPitch}},
        RuleCase{"WrongOnBothCounts",
                 evidence(-0.8, true, -24.0),
                 {JoinFlagKind::Weak, JoinFlagKind::OffPitch}},
        RuleCase{"UnknownPitch", evidence(0.9, true, std::nullopt), {}},
        RuleCase{"AtTheSearchsEdge", evidence(0.9, true, 0, true), {JoinFlagKind::AtEdge}},
        RuleCase{"StandardUsedAgainstThePrecise",
                 evidence(0.9, true, 0, false, 20.7),
                 {JoinFlagKind::Disagreed}},
        RuleCase{"CloseEnoughToAgree", evidence(0.9, true, 0, false, 1.5), {}},
        // a precise search that scored low found no film to disagree with
        RuleCase{"UntrustedPreciseSaysNothing", untrusted(evidence(0.9, true, 0, false, 9.4)), {}},
        RuleCase{"PreciseUsedOverAWrongStandard", evidence(0.9, true, 0, false, 20.7, true), {}}),
    [](const testing::TestParamInfo<RuleCase>& info) { return std::string(info.param.name); });

TEST(JoinEvidence, MeasuresThePairItIsGiven) {
    const std::vector<float> strip = film(2000);
    const std::vector<float> previous = scanned(strip, 0, 1000);
    const std::vector<float> current = scanned(strip, 907, 1000);
    JoinReadings r = searchedPair(previous, current, 907);
    r.advance = 905;
    JoinEvidence e = joinEvidence(r);
    ASSERT_TRUE(e.correlation.has_value());
    EXPECT_GT(*e.correlation, 0.95);
    EXPECT_TRUE(e.sounding);
    ASSERT_TRUE(e.offAdvance.has_value());
    EXPECT_EQ(*e.offAdvance, 2);
    EXPECT_FALSE(e.atSearchEdge);
    EXPECT_FALSE(e.disagreement.has_value());
    EXPECT_TRUE(judgeJoin(e).empty());

    // a peak on the last shift searched may have been cut short by the range
    r.standardJoin = 998;
    EXPECT_TRUE(joinEvidence(r).atSearchEdge);
    r.standardFound = false;
    r.standardJoin = 907;
    EXPECT_TRUE(joinEvidence(r).atSearchEdge);
    // a precise join used says nothing of the standard search's edge; its
    // own score is the correlation judged
    r.preciseUsed = true;
    r.preciseJoin = 907.2;
    r.preciseScore = 0.42;
    e = joinEvidence(r);
    EXPECT_FALSE(e.atSearchEdge);
    EXPECT_EQ(e.correlation, 0.42);
    ASSERT_EQ(judgeJoin(e).size(), 1u);
    EXPECT_EQ(judgeJoin(e)[0].kind, JoinFlagKind::Weak);
    ASSERT_TRUE(e.disagreement.has_value());
    EXPECT_NEAR(*e.disagreement, 0.2, 1e-9);
}

// The scanner advances the scans as they were scanned: a trim that ends 20
// columns earlier on the current frame than on the previous one moves the
// join by 20 rows, not the scan.
TEST(JoinEvidence, MeasuresThePitchBeforeTheTrim) {
    const std::vector<float> strip = film(2000);
    const std::vector<float> previous = scanned(strip, 0, 1000);
    const std::vector<float> current = scanned(strip, 887, 1000);
    JoinReadings r = searchedPair(previous, current, 887);
    r.advance = 905;
    EXPECT_EQ(joinEvidence(r).offAdvance, -18.0);
    r.trimShift = -20; // the previous trim's last column 476, the current one's 496
    const JoinEvidence e = joinEvidence(r);
    EXPECT_EQ(e.offAdvance, 2.0);
    EXPECT_TRUE(judgeJoin(e).empty());
}

// A standard join 9.4 rows from a precise one that scored 0.93 is flagged; from
// one that scored 0.31, not.
TEST(JoinEvidence, TrustsAPreciseSearchThatFoundTheFilm) {
    const std::vector<float> strip = film(2000);
    const std::vector<float> previous = scanned(strip, 0, 1000);
    const std::vector<float> current = scanned(strip, 907, 1000);
    JoinReadings r = searchedPair(previous, current, 907);
    r.preciseJoin = 897.6;
    r.preciseJoinScore = 0.93;
    JoinEvidence e = joinEvidence(r);
    EXPECT_TRUE(e.preciseTrusted);
    ASSERT_EQ(judgeJoin(e).size(), 1u);
    EXPECT_EQ(judgeJoin(e)[0].kind, JoinFlagKind::Disagreed);
    EXPECT_EQ(judgeJoin(e)[0].reason, "the precise search puts it -9.4 rows from the standard one");
    r.preciseJoinScore = 0.31;
    e = joinEvidence(r);
    EXPECT_FALSE(e.preciseTrusted);
    EXPECT_TRUE(judgeJoin(e).empty());
}

TEST(JoinRuleText, NamesTheThresholdsThatRun) {
    const std::string text = joinRuleText();
    EXPECT_NE(text.find("below 0.50"), std::string::npos) << text;
    EXPECT_NE(text.find("more than 10 rows"), std::string::npos) << text;
    EXPECT_NE(text.find("1.1 % of the pitch"), std::string::npos) << text;
    EXPECT_NE(text.find("more than 2 rows elsewhere"), std::string::npos) << text;
    EXPECT_NE(text.find("scoring 0.50 or more"), std::string::npos) << text;
}

// --- the whole run --------------------------------------------------------------

TEST(RunEvidence, SaysNothingOfASteadyRun) {
    RunEvidence run;
    for (int f = 1; f <= 24; ++f) {
        run.addBand(f, 20 + (f % 2), 91 + (f % 2));
        if (f > 1) {
            run.addJoin({});
        }
    }
    EXPECT_TRUE(run.warnings().empty());
}

TEST(RunEvidence, WarnsOfABandThatChangesWidth) {
    RunEvidence run;
    for (int f = 1; f <= 24; ++f) {
        const bool narrow = f == 3 || f == 9 || f == 11;
        run.addBand(f, narrow ? 25 : 20, narrow ? 86 : 91);
    }
    const std::vector<RunWarning> w = run.warnings();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].kind, "band-width");
    EXPECT_EQ(w[0].reason, "The band read changes width between frames: frames 3, 9, 11 read scan "
                           "rows 25 to 86, most frames 20 to 91; the level of the sound steps at "
                           "their joins");
}

TEST(RunEvidence, WarnsWhenMostJoinsLieOffThePitch) {
    RunEvidence run;
    const std::vector<JoinFlag> off{{JoinFlagKind::OffPitch, "+28.0 rows from the frame pitch"}};
    for (int f = 2; f <= 9; ++f) {
        run.addJoin(f % 4 == 0 ? std::vector<JoinFlag>{} : off);
    }
    const std::vector<RunWarning> w = run.warnings();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].kind, "band");
    EXPECT_NE(w[0].reason.find("(6 of 8 lie off it)"), std::string::npos);

    // one join off in a short run is a bad join, not a wrong band
    RunEvidence single;
    single.addJoin(off);
    single.addJoin({});
    EXPECT_TRUE(single.warnings().empty());
}

// Most frames' bands unlike a variable-area track: the picture read as the
// track. Frames too flat to judge count for neither side.
TEST(RunEvidence, WarnsWhenMostBandsDoNotLookLikeATrack) {
    RunEvidence run(SoundtrackType::VariableArea35);
    for (int f = 1; f <= 8; ++f) {
        const std::optional<bool> like = f <= 2 ? std::optional<bool>() : std::optional(f == 3);
        run.addBand(f, 20, 91, like);
    }
    const std::vector<RunWarning> w = run.warnings();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].kind, "band");
    EXPECT_EQ(w[0].reason,
              "The band read does not look like a variable-area track (dark, clear and dark "
              "again across) on 5 of 6 frames: it may be the picture or the film's edge; check "
              "the frame rotation (UP or DOWN) or the track side, and the film type");

    RunEvidence density(SoundtrackType::VariableDensity35);
    density.addBand(1, 20, 91, false);
    density.addBand(2, 20, 91, false);
    ASSERT_EQ(density.warnings().size(), 1u);
    EXPECT_NE(density.warnings()[0].reason.find("a variable-density track (even across"),
              std::string::npos);
}

// Most joins off the pitch on a band that looks like a track: the frames'
// sound was not matched there, which says nothing against the band.
TEST(RunEvidence, BlamesTheJoinsWhenTheBandLooksLikeATrack) {
    const std::vector<JoinFlag> off{{JoinFlagKind::OffPitch, "-24.0 rows from the frame pitch"}};
    RunEvidence run(SoundtrackType::VariableArea35);
    for (int f = 1; f <= 12; ++f) {
        // frame 1 too flat to judge, frame 2 unlike a track, the rest like one
        run.addBand(f, 20, 91, f == 1 ? std::optional<bool>() : std::optional(f != 2));
        if (f > 1) {
            run.addJoin(f <= 8 ? off : std::vector<JoinFlag>{});
        }
    }
    const std::vector<RunWarning> w = run.warnings();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].kind, "joins");
    EXPECT_EQ(w[0].reason,
              "The band looks like a soundtrack, but the joins of 7 of 11 frames do not follow "
              "the frame pitch, so the frames' sound was not matched there (quiet passages give "
              "the search too little to match; Inverse or the cut by analysis, chosen wrongly, "
              "gives it the wrong film): see the joins flagged off-pitch in the report");

    // half the judged bands like a track is not most: the band is blamed
    RunEvidence even(SoundtrackType::VariableArea35);
    for (int f = 1; f <= 4; ++f) {
        even.addBand(f, 20, 91, f % 2 == 0);
        if (f > 1) {
            even.addJoin(off);
        }
    }
    ASSERT_EQ(even.warnings().size(), 1u);
    EXPECT_EQ(even.warnings()[0].kind, "band");
    EXPECT_NE(even.warnings()[0].reason.find("The joins do not follow the frame pitch (3 of 3"),
              std::string::npos);
}

TEST(RunEvidence, LetsAFewOddBandsPass) {
    // 3 of 6 is below the share; a single frame is below the least count
    RunEvidence half(SoundtrackType::VariableArea16);
    for (int f = 1; f <= 6; ++f) {
        half.addBand(f, 20, 91, f % 2 == 0);
    }
    EXPECT_TRUE(half.warnings().empty());
    RunEvidence single(SoundtrackType::VariableArea16);
    single.addBand(1, 20, 91, false);
    EXPECT_TRUE(single.warnings().empty());
}

} // namespace
} // namespace veltrana
