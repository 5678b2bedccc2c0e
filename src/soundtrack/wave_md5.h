#pragma once
// The "MD5 " chunk of a Broadcast WAV: the MD5 of the data chunk's payload
// (the audio bytes only, not the header), 16 bytes, in a chunk after the data
// chunk, where BWF MetaEdit puts it and checks it. An archive can then verify
// the sound after any edit of its metadata.

#include "base/status.h"

#include <string>

namespace veltrana {

// Appends the chunk to the finished RIFF/WAVE file open at `descriptor`
// (readable and writable; it stays open), after a pad byte if the file's
// last chunk is odd, and updates the RIFF size. `name` is for messages.
Status appendAudioMd5Chunk(int descriptor, const std::string& name);

} // namespace veltrana
