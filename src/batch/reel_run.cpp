#include "batch/reel_run.h"

#include "batch/batch_lock.h"
#include "batch/reel_report.h"
#include "job/folder_swap.h"
#include "job/frame_sequence.h"
#include "job/md5.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <sys/stat.h>

namespace veltrana::batch {

namespace fs = std::filesystem;

namespace {

// A record is a few lines per scan: a million scans stay well below.
constexpr std::uintmax_t kRecordBytesMax = std::uintmax_t{512} << 20;

std::string recordName(const std::string& id) {
    return id + ".json";
}

double secondsSince(std::chrono::steady_clock::time_point began) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
}

// What the job said last of why it failed: its last line but warnings,
// without the program's name.
std::string failureSentence(const std::string& log) {
    constexpr std::string_view kProgram = "veltrana: ";
    std::string sentence;
    std::size_t start = 0;
    while (start < log.size()) {
        const std::size_t end = std::min(log.find('\n', start), log.size());
        std::string_view line(log.data() + start, end - start);
        if (line.starts_with(kProgram)) {
            line.remove_prefix(kProgram.size());
        }
        // what the run wrote is no cause: the report's path, not the error before it
        if (!line.empty() && !line.starts_with("warning:") && !line.starts_with("Run with") &&
            !line.starts_with("Run report: ")) {
            sentence = std::string(line);
        }
        start = end + 1;
    }
    return sentence.empty() ? std::string("the job failed") : sentence;
}

// The regular files of the reel's folder but its record, with their MD5s.
Result<std::vector<RecordedOutput>> folderOutputs(const fs::path& folder, const std::string& id) {
    std::vector<RecordedOutput> outputs;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file(ec) || entry.is_symlink(ec) || name == recordName(id)) {
            continue;
        }
        Result<std::string> md5 = md5HexOfFile(entry.path());
        if (!md5) {
            return md5.status();
        }
        outputs.push_back({name, *md5});
    }
    std::sort(outputs.begin(), outputs.end(),
              [](const RecordedOutput& a, const RecordedOutput& b) { return a.name < b.name; });
    return outputs;
}

// Whether the reel's folder holds what its record says, read as it is now.
bool isDoneEarlier(const Reel& reel, const fs::path& outputFolder, const std::string& version,
                   const std::vector<RecordedInput>& inputs, ReelRecord& found) {
    Result<ReelRecord> record = readReelRecord(outputFolder, reel.id);
    if (!record || record->status != "done" || record->version != version ||
        record->settingsJson != reel.settingsJson || record->inputs != inputs) {
        return false;
    }
    const Result<std::vector<RecordedOutput>> outputs =
        folderOutputs(outputFolder / reel.id, reel.id);
    if (!outputs || *outputs != record->outputs) {
        return false;
    }
    found = std::move(record).value();
    return true;
}

// The log as it reads once the folder is in place: the paths under the
// folder's final name, the side files under the reel's names.
std::string finalPaths(std::string log, const fs::path& temporary, const std::string& id) {
    const fs::path inPlace = temporary.parent_path() / id;
    const std::pair<std::string, std::string> renames[] = {
        {(temporary / "leng.txt").string(), (inPlace / (id + ".leng.txt")).string()},
        {(temporary / "joins.csv").string(), (inPlace / (id + ".joins.csv")).string()},
        {temporary.string(), inPlace.string()}};
    for (const auto& [from, to] : renames) {
        for (std::size_t at = log.find(from); at != std::string::npos;
             at = log.find(from, at + to.size())) {
            log.replace(at, from.size(), to);
        }
    }
    return log;
}

// The job's side files under the reel's names.
void nameSideFiles(const fs::path& folder, const std::string& id) {
    std::error_code ec;
    for (const char* name : {"leng.txt", "joins.csv"}) {
        if (fs::exists(folder / name, ec)) {
            fs::rename(folder / name, folder / (id + "." + name), ec);
        }
    }
}

// What the finished job left, in its folder: the sound's check file, the
// log, and the record of it all.
Status finishReelFolder(FolderSwap& swap, const Reel& reel, const ReelJobEnd& end,
                        ReelRecord& record) {
    const fs::path folder = swap.temporaryFolder();
    nameSideFiles(folder, reel.id);
    const std::string sound = reel.id + ".wav";
    std::error_code ec;
    if (end.exitStatus == 0 && fs::is_regular_file(folder / sound, ec)) {
        Result<std::string> md5 = md5HexOfFile(folder / sound);
        if (!md5) {
            return md5.status();
        }
        if (Status written = swap.write(sound + ".md5", *md5 + "  " + sound + "\n"); !written) {
            return written;
        }
    }
    if (Status written = swap.write(reel.id + ".log", finalPaths(end.log, folder, reel.id));
        !written) {
        return written;
    }
    const RunCounts counts = runCounts(folder / "report" / "report.json");
    record.frames = counts.frames;
    record.framesLost = counts.framesLost;
    Result<std::vector<RecordedOutput>> outputs = folderOutputs(folder, reel.id);
    if (!outputs) {
        return outputs.status();
    }
    record.outputs = std::move(outputs).value();
    return swap.write(recordName(reel.id), recordJson(record));
}

ReelRecord startedRecord(const Reel& reel, const std::string& version) {
    ReelRecord record;
    record.id = reel.id;
    record.settingsJson = reel.settingsJson;
    record.version = version;
    record.started = utcTimeText(std::chrono::duration_cast<std::chrono::seconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
    return record;
}

ReelJobPaths jobPaths(const fs::path& folder, const Reel& reel) {
    return {folder, folder / (reel.id + ".wav"),
            reel.movie == ReelMovie::None ? fs::path()
                                          : folder / (reel.id + "." + reel.movieExtension),
            folder / "report"};
}

// Runs the job into a fresh folder and swaps it in; the outcome says how it went.
ReelOutcome writeReel(const Reel& reel, const fs::path& outputFolder, const ReelJobRunner& runner,
                      ReelRecord record) {
    const auto began = std::chrono::steady_clock::now();
    Result<FolderSwap> swap = FolderSwap::create(outputFolder / reel.id, "the reel " + reel.id);
    if (!swap) {
        return {ReelEnd::Failed, swap.message(), record};
    }
    const ReelJobEnd end = runner(reel, jobPaths(swap->temporaryFolder(), reel));
    record.exitStatus = end.exitStatus;
    record.status = end.exitStatus == 0 ? "done" : "failed";
    record.message = end.exitStatus == 0 ? std::string("done") : failureSentence(end.log);
    record.seconds = secondsSince(began);
    if (Status finished = finishReelFolder(*swap, reel, end, record); !finished) {
        return {ReelEnd::Failed, finished.message(), record};
    }
    if (Status swapped = swap->swapIn(); !swapped) {
        return {ReelEnd::Failed, swapped.message(), record};
    }
    swap->removeOld();
    return {end.exitStatus == 0 ? ReelEnd::Done : ReelEnd::Failed, record.message, record};
}

} // namespace

std::string utcTimeText(std::int64_t secondsSinceEpoch) {
    const std::time_t time = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm parts{};
    ::gmtime_r(&time, &parts);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

Result<std::vector<RecordedInput>> reelInputs(const fs::path& scans, bool fixity) {
    Result<FrameSequence> sequence = listFrameSequence(scans);
    if (!sequence) {
        return sequence.status();
    }
    std::vector<RecordedInput> inputs;
    for (const fs::path& frame : sequence->frames) {
        struct stat st {};
        if (::stat(frame.c_str(), &st) != 0) {
            return Status::failure("Cannot read the scan " + frame.string());
        }
        RecordedInput input{frame.filename().string(), static_cast<std::uintmax_t>(st.st_size),
                            utcTimeText(st.st_mtim.tv_sec), ""};
        if (fixity) {
            Result<std::string> md5 = md5HexOfFile(frame);
            if (!md5) {
                return md5.status();
            }
            input.md5 = *md5;
        }
        inputs.push_back(std::move(input));
    }
    return inputs;
}

Result<ReelRecord> readReelRecord(const fs::path& outputFolder, const std::string& id) {
    const fs::path file = outputFolder / id / recordName(id);
    Result<std::string> text = readSmallFile(file, kRecordBytesMax);
    if (!text) {
        return text.status();
    }
    return readRecord(*text);
}

ReelOutcome runReel(const Reel& reel, const fs::path& outputFolder, const std::string& version,
                    const ReelJobRunner& runner) {
    Result<HeldLock> lock = lockReel(outputFolder, reel.id);
    if (!lock) {
        return {ReelEnd::Busy, lock.message(), {}};
    }
    ReelRecord record = startedRecord(reel, version);
    Result<std::vector<RecordedInput>> inputs = reelInputs(reel.scans, reel.fixity);
    if (inputs) {
        ReelRecord found;
        if (isDoneEarlier(reel, outputFolder, version, *inputs, found)) {
            return {ReelEnd::DoneEarlier, "done earlier", found};
        }
        record.inputs = std::move(inputs).value();
    }
    // scans that cannot be listed: the job says why, in the reel's log and record
    return writeReel(reel, outputFolder, runner, std::move(record));
}

} // namespace veltrana::batch
