#pragma once
// The soundtrack options, shared by the soundtrack command and the film
// command's --with-sound.

#include "cli/options.h"
#include "job/film_speed.h"
#include "soundtrack/soundtrack_job.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace veltrana::cli {

struct SoundOptions {
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

// Adds --rotation (the name --track had before upright scans, setting the
// job's track), --channel, --no-dc, --no-crossfade, --cut-by-analysis,
// --archival, --join, --bits and --rate; returns them, for a command that
// takes them only beside another option.
std::vector<CLI::Option*> addSoundOptions(CLI::App& command, SoundOptions& options,
                                          JobOptions& job);

// --fps's check: a film speed from 16 to 60 frames per second, whole (24),
// decimal (16.5) or a fraction (24000/1001) (parseFilmSpeed).
CLI::Validator filmSpeedCheck();

// The film speed a checked --fps gives.
FilmSpeed filmSpeedOf(const std::string& fps);

// The settings the options ask for, at `filmSpeed`; each given value of
// --join, --bits and --rate overrides --archival's choice, and --rate film
// given by name asks for the film's own rate or a refusal.
SoundSettings soundSettingsOf(const SoundOptions& options, const FilmSpeed& filmSpeed);

} // namespace veltrana::cli
