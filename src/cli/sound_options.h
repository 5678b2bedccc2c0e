#pragma once
// The soundtrack options, shared by the soundtrack command and the film
// command's --with-sound.

#include "cli/options.h"
#include "soundtrack/soundtrack_job.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace veltrana::cli {

struct SoundOptions {
    std::string rotation = "up";
    std::string channel = "R";
    bool noDc = false;
    bool noCrossfade = false;
    bool cutByAnalysis = false;
    // archival sound; the empty values follow --archival
    bool archival = false;
    std::string join;
    int bits = 0;
    std::string rate;
};

// Adds --rotation, --channel, --no-dc, --no-crossfade, --cut-by-analysis,
// --archival, --join, --bits and --rate; returns them, for a command that
// takes them only beside another option.
std::vector<CLI::Option*> addSoundOptions(CLI::App& command, SoundOptions& options);

// The settings the options ask for, at `filmSpeed` frames per second; each
// given value of --join, --bits and --rate overrides --archival's choice.
SoundSettings soundSettingsOf(const SoundOptions& options, int filmSpeed);

// What a run report lists of them.
std::vector<RunSetting> soundRunSettings(const SoundOptions& options, const SoundSettings& sound);

} // namespace veltrana::cli
