#include "batch/manifest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veltrana::batch {
namespace {

const std::vector<ManifestOption> kOptions = {
    {"film", false}, {"fps", false}, {"archival", true}, {"first", false}, {"rate", false}};
const std::vector<std::string> kRefused = {"output", "report", "quiet", "threads"};

Result<std::vector<Reel>> read(const std::string& text) {
    return readManifest(text, "/archive/lists", kOptions, kRefused);
}

TEST(Manifest, ReadsEachLineAsAReel) {
    const auto reels = read("{\"id\": \"reel-1\", \"scans\": \"scans/one\", \"film\": \"16va\", "
                            "\"fps\": 23.976, \"archival\": true, \"first\": 3}\n"
                            "\n"
                            "{\"id\": \"Reel_2.b\", \"scans\": \"/abs/two\", \"archival\": false, "
                            "\"fixity\": true, \"movie\": true}\n"
                            "{\"id\": \"three\", \"scans\": \"s\", \"movie\": \"mkv\"}\n");
    ASSERT_TRUE(reels.ok()) << reels.message();
    ASSERT_EQ(reels->size(), 3u);
    const Reel& one = (*reels)[0];
    EXPECT_EQ(one.line, 1);
    EXPECT_EQ(one.scans, "/archive/lists/scans/one");
    EXPECT_EQ(optionArguments(one.options),
              (std::vector<std::string>{"--archival", "--film", "16va", "--first", "3", "--fps",
                                        "23.976"}));
    EXPECT_FALSE(one.fixity);
    EXPECT_EQ(one.movie, ReelMovie::None);
    const Reel& two = (*reels)[1];
    EXPECT_EQ(two.line, 3);
    EXPECT_EQ(two.scans, "/abs/two");
    EXPECT_TRUE(two.options.empty()); // false leaves a flag out
    EXPECT_TRUE(two.fixity);
    EXPECT_EQ(two.movie, ReelMovie::Standard);
    EXPECT_EQ((*reels)[2].movie, ReelMovie::WithSound);
    EXPECT_EQ((*reels)[2].movieExtension, "mkv");
    EXPECT_EQ(two.settingsJson,
              "{\"archival\":false,\"fixity\":true,\"movie\":true,\"scans\":\"/abs/two\"}");
}

struct BadManifest {
    const char* name;
    std::string text;
    std::string message;
};

class BadManifests : public testing::TestWithParam<BadManifest> {};

TEST_P(BadManifests, AreRefusedWithTheLineAndKey) {
    const auto reels = read(GetParam().text);
    ASSERT_FALSE(reels.ok());
    EXPECT_EQ(reels.message(), GetParam().message);
}

const std::string kGood = "{\"id\": \"a\", \"scans\": \"s\"}\n";

INSTANTIATE_TEST_SUITE_P(
    Lines, BadManifests,
    testing::Values(
        BadManifest{"NotJson", kGood + "{\"id\": \"b\", \"scans\": \n",
                    "Manifest line 2: it is not a JSON object."},
        BadManifest{"NotAnObject", "[1, 2]\n", "Manifest line 1: it is not a JSON object."},
        BadManifest{"UnknownKey", kGood + "{\"id\": \"b\", \"scans\": \"s\", \"speed\": 24}",
                    "Manifest line 2: the key \"speed\" is no option of veltrana soundtrack."},
        BadManifest{"RefusedKey", "{\"id\": \"b\", \"scans\": \"s\", \"output\": \"x.wav\"}",
                    "Manifest line 1: the key \"output\" is set by the batch itself."},
        BadManifest{"DuplicateIgnoringCase",
                    "{\"id\": \"Reel-1\", \"scans\": \"s\"}\n{\"id\": \"b\", \"scans\": \"s\"}\n"
                    "{\"id\": \"reel-1\", \"scans\": \"t\"}",
                    "Manifest line 3: the key \"id\" repeats the id \"reel-1\" of line 1 (ids "
                    "are compared ignoring case)."},
        BadManifest{"IdLeavingTheFolder", "{\"id\": \"../x\", \"scans\": \"s\"}",
                    "Manifest line 1: the key \"id\" must be letters, digits, '.', '_' and '-', "
                    "starting with a letter or digit."},
        BadManifest{"IdMissing", "{\"scans\": \"s\"}",
                    "Manifest line 1: the key \"id\" must be letters, digits, '.', '_' and '-', "
                    "starting with a letter or digit."},
        BadManifest{"ScansMissing", "{\"id\": \"a\"}",
                    "Manifest line 1: the key \"scans\" must name the scans folder."},
        BadManifest{"FlagGivenAValue", "{\"id\": \"a\", \"scans\": \"s\", \"archival\": 1}",
                    "Manifest line 1: the key \"archival\" is a flag: give it true or false."},
        BadManifest{"ValueGivenAFlag", "{\"id\": \"a\", \"scans\": \"s\", \"film\": true}",
                    "Manifest line 1: the key \"film\" takes a number or a string."},
        BadManifest{"MovieOfAnotherContainer",
                    "{\"id\": \"a\", \"scans\": \"s\", \"movie\": \"mov\"}",
                    "Manifest line 1: the key \"movie\" takes true, false, or the container of a "
                    "movie with its sound: \"avi\", \"mp4\" or \"mkv\"."},
        BadManifest{"Empty", "\n\n", "The manifest lists no reel."}),
    [](const testing::TestParamInfo<BadManifest>& info) { return std::string(info.param.name); });

TEST(ReelId, TakesFolderNamesOnly) {
    for (const char* good : {"a", "0", "reel-0042", "R.1_b"}) {
        EXPECT_TRUE(isReelId(good)) << good;
    }
    // strings, so that the over-long id lives as long as the loop
    for (const std::string& bad : std::vector<std::string>{"", ".", "..", "-a", "_a", "a/b", "a b",
                                                           "r\xc3\xa9", std::string(201, 'a')}) {
        EXPECT_FALSE(isReelId(bad)) << bad;
    }
}

} // namespace
} // namespace veltrana::batch
