#pragma once
// Output files that appear complete or not at all, and never anywhere else.
//
// Rules every output of the program follows:
// - Only regular files are written. A device, FIFO, socket or folder at the
//   target is refused before a job reads anything.
// - The bytes go to a temporary file beside the target, created exclusively
//   and never through a link (O_CREAT | O_EXCL | O_NOFOLLOW) under an
//   unpredictable name, ".veltrana-<host>-<pid>-<random>.tmp". Only when
//   they are known to be on the disk (fsync) is the temporary renamed over
//   the target, and the folder synced. A failure or a stop leaves the target
//   as it was.
// - Just before the rename the final name is looked at again: what stands
//   there must still be a regular file or nothing (a link, for a name that
//   is replaced as such). A device or FIFO put there during the run stays.
// - A file that replaces another keeps its permissions and, as far as the
//   user may give them, its owner and group (root gives both), as cp does.
// - A target the user names (-o) that is a symbolic link to a regular file is
//   written through, as cp does: the file it points to is replaced and the
//   link stays. The files a job writes beside the scans are replaced as names:
//   a link planted there is replaced, never followed.
// - Temporaries left by a run that was killed (its process no longer runs)
//   are removed by the next run on the same machine that writes into the
//   same folder. The host name in the temporary's name keeps a run from
//   judging the processes of another machine sharing the folder. Names
//   without a host, as earlier versions made them, are left alone: nothing
//   in them says which machine's process made them.

#include "base/status.h"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace veltrana {

// Where an output will go, resolved and checked.
struct OutputTarget {
    std::filesystem::path given; // as the user named it
    std::filesystem::path file; // the file to replace or create (a link's target when given is one)
    bool exists = false;        // file exists (and is a regular file)
    dev_t device = 0;           // identity, permissions and owner of the existing file
    ino_t inode = 0;
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
    // a file written beside the scans: a link at the name is replaced, not followed
    bool replacedAsName = false;
};

// Resolves a target named by the user. `what` says what is written there, for
// messages ("the sound"). Refuses an empty name, a name ending in a slash, a
// folder, a special file, a link that leads nowhere or to a special file, and
// a file in a folder that does not exist.
Result<OutputTarget> resolveOutputTarget(const std::filesystem::path& given, std::string_view what);

// A file the job writes beside its input (leng.txt, ...): replaced as a name,
// never followed. Refuses a folder or special file at that name.
Result<OutputTarget> sideFileTarget(const std::filesystem::path& path, std::string_view what);

// Whether the file at `path` starts as a RIFF file of the given form
// ("WAVE", "AVI "); false when it cannot be read.
bool fileStartsAsRiff(const std::filesystem::path& path, std::string_view form);

// Whether `target` is the file at `path`: by identity when both exist, by
// folder and name otherwise.
bool isSameFile(const OutputTarget& target, const std::filesystem::path& path);

// An output being written under a temporary name beside its target.
class PendingFile {
public:
    // Creates the temporary file. Fails with a message naming the target when
    // its folder cannot be written.
    static Result<PendingFile> create(const OutputTarget& target, std::string_view what);

    PendingFile(PendingFile&& other) noexcept;
    PendingFile& operator=(PendingFile&& other) noexcept;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    // Removes the temporary file unless it was committed.
    ~PendingFile();

    // The open temporary file, for writers that take a descriptor.
    int descriptor() const { return fd; }
    const std::filesystem::path& temporaryPath() const { return temporary; }

    // Makes commit() check that the file starts as a RIFF file of this form
    // ("WAVE"): whatever wrote it, nothing else reaches the target.
    void expectRiffForm(std::string_view form) { riffForm = std::string(form); }

    // Appends bytes; fails (naming the target) when the disk takes fewer.
    Status write(std::span<const std::uint8_t> bytes);
    Status write(std::string_view text);

    // Makes sure the bytes are on the disk, renames the temporary over the
    // target and syncs the folder. On failure the temporary is removed and
    // the target left as it was.
    Status commit();

    // Removes the temporary file; the target stays as it was.
    void discard();

private:
    PendingFile() = default;
    Status failed(const std::string& cause);

    OutputTarget target;
    std::string what;
    std::filesystem::path temporary;
    std::string riffForm;
    int fd = -1;
};

// A private folder beside a target, for writers that can only be given a
// file name (the video writer): created with mode 0700 under the temporary
// name pattern, so nobody else can place a link inside it. The file the
// writer made there is checked and renamed over the target by commit().
class PendingFolder {
public:
    static Result<PendingFolder> create(const OutputTarget& target, std::string_view what);

    PendingFolder(PendingFolder&& other) noexcept;
    PendingFolder& operator=(PendingFolder&& other) noexcept;
    PendingFolder(const PendingFolder&) = delete;
    PendingFolder& operator=(const PendingFolder&) = delete;
    // Removes the folder and what it holds unless committed.
    ~PendingFolder();

    // Where the writer is to put its file.
    std::filesystem::path filePath() const;

    // Syncs the writer's file, renames it over the target, syncs the target's
    // folder and removes the private folder.
    Status commit();
    void discard();

private:
    PendingFolder() = default;

    OutputTarget target;
    std::string what;
    std::filesystem::path folder;
};

// Writes `text` to a side file through a temporary file.
Status writeSideFile(const std::filesystem::path& path, std::string_view text,
                     std::string_view what);

// Removes, from `folder`, temporaries of this program (the name pattern
// above) made on this machine and owned by this user whose process no longer
// runs. A temporary folder loses the files in it; it holds no folders.
void removeStaleTemporaries(const std::filesystem::path& folder);

// Removes a folder the program made with what it holds: files, and folders
// of its own up to three levels deep (a batch reel's report); links are
// removed, never followed.
void removeFolderOfFiles(const std::filesystem::path& folder);

// Syncs a folder so that a rename in it survives a crash; a filesystem that
// cannot sync a folder is no failure.
Status syncFolder(const std::filesystem::path& folder);

// Creates `path`, which must not exist (never through a link), writes
// `bytes` to it and, when `synced`, makes sure they are on the disk; for
// files in a folder of the program's own that is not yet in place. Fails
// naming `what` and the path.
Status writeNewFile(const std::filesystem::path& path, std::string_view bytes,
                    std::string_view what, bool synced = true);

// A fresh temporary name of this process on this machine (no folder).
std::string temporaryName();

// This machine's name as it stands in temporary names: letters, digits, dots
// and underscores (anything else becomes an underscore), so that the name
// splits at its dashes.
std::string temporaryHostName();

// What a temporary name says of the run that made it.
struct TemporaryNameParts {
    std::string host;
    long pid = 0;
};

// The parts of a name that follows the temporary name pattern; nothing for
// any other name.
std::optional<TemporaryNameParts> parseTemporaryName(std::string_view name);

} // namespace veltrana
