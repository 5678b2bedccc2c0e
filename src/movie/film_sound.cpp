#include "movie/film_sound.h"

#include "geometry/profile.h"

#include <cmath>
#include <cstdio>

namespace veltrana {

int defaultSoundAdvance(SoundtrackType type) {
    return type == SoundtrackType::VariableArea16 ? kSoundAdvance16 : kSoundAdvance35;
}

int framesPerScan(const ScanRunSettings& run) {
    return run.longStrip ? 4 : 1;
}

FilmSoundtrack::FilmSoundtrack(const ScanRunSettings& run, const FilmSound& settings)
    : run(run), settings(settings), plan(soundPlanOf(settings.sound)),
      reading(readSettingsOf(run, settings.sound, plan)),
      assembly(makeSoundAssembly(plan, {.type = run.soundtrackType,
                                        .longStrip = run.longStrip,
                                        .crossfade = settings.sound.crossfade,
                                        .startFrame = run.startFrame,
                                        .stopFrame = run.stopFrame})) {}

bool FilmSoundtrack::readsStoredDepth() const {
    return reading.archival == ArchivalReading::Levels;
}

SoundFrame FilmSoundtrack::read(const ScanImages& scan, int number, bool first) const {
    return measureSoundFrame(frameScanOf(scan), number, first, reading, geometry);
}

PairSearch FilmSoundtrack::meet(const SoundFrame& previous, const SoundFrame& current) const {
    return searchPair(previous, current, reading);
}

Status FilmSoundtrack::start(const SoundFrame& first, const FilmFrames& pictures,
                             const std::optional<DpxTimecode>& timecode) {
    settled =
        first.estimate ? first.estimate->snapped : ScanResolution{run.resolutionX, run.resolutionY};
    const std::optional<SoundtrackGeometry> found =
        computeSoundtrackGeometry(run.soundtrackType, settled);
    if (!found || found->framePitch <= 0 || found->trackWidth <= 0 || first.measured.rows <= 0 ||
        first.measured.samples.empty() || pictures.cut.pieces.empty()) {
        return Status::failure("its soundtrack cannot be read: no soundtrack band or frame "
                               "pitch was found on the first frame");
    }
    geometry = *found;
    firstTimecode = timecode;
    rate = outputRateFor(settings.sound, geometry.framePitch);
    // the film's working row i is the sound's row i + (sound right - picture right)
    firstFrameLine =
        pictures.cut.frameStart + (first.measured.bounds.right - pictures.bounds.right);
    assembly->start(first, settings.sound.filmSpeed.rate(geometry.framePitch));
    return {};
}

Status FilmSoundtrack::add(const SoundFrame& frame, const SoundFrame& previous,
                           const PairSearch& search) {
    if (frame.measured.rows <= 0 || frame.measured.samples.empty()) {
        return Status::failure("its soundtrack cannot be read on frame " +
                               std::to_string(frame.number));
    }
    const JoinShown shown = assembly->add(frame, previous, search);
    joins.push_back(shown.position.value_or(search.position));
    return {};
}

Result<FilmSoundResult> FilmSoundtrack::finish() {
    FilmSoundResult result;
    result.assembled = assembly->finish();
    const Result<FrameAdvance> advance = measuredFrameAdvance(joins, framesPerScan(run));
    if (!advance) {
        return advance.status();
    }
    // the joins of frames without a soundtrack land anywhere
    const double nominal = geometry.framePitch;
    if (std::abs(advance->rows - nominal) > kAdvanceTolerance * nominal) {
        char why[200];
        std::snprintf(why, sizeof why,
                      "its soundtrack cannot be read: the frames join %.1f rows apart, not "
                      "about the film's %d",
                      advance->rows, geometry.framePitch);
        return Status::failure(why);
    }
    result.advance = *advance;
    result.firstFrameLine = firstFrameLine;
    // the rate settled on the first frame: 48000 where the film's is no whole number
    SoundSettings written = settings.sound;
    written.outputRate = rate.rate;
    result.delivery = soundDeliveryOf(run, written, *assembly, settled, geometry,
                                      result.assembled.centredOnZero, firstTimecode);
    result.format =
        movieSoundFormat(settings.container, written.outputRate, settings.sound.bitsPerSample > 16);
    SoundPlacement placement;
    placement.pictureRate = settings.pictureRate;
    placement.advance = settings.advance;
    placement.rowsPerFrame = advance->rows;
    placement.firstFrameLine = firstFrameLine;
    placement.sampleRate = result.format.sampleRate;
    Result<std::vector<float>> samples =
        movieSoundSamples(movieSoundLevels(result.assembled.stream, result.assembled.centredOnZero,
                                           settings.sound.removeDc),
                          placement);
    if (!samples) {
        return samples.status();
    }
    result.movieSamples = std::move(samples).value();
    return result;
}

} // namespace veltrana
