// Where a recording goes: the checks made before any frame is encoded, and
// the replacement of an old recording that --overwrite puts off until the new
// one is complete.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mp4_facts.h"

namespace recmux_tool {

struct RecordOutput {
    std::string path;     // the name asked for
    std::string writing;  // where the frames go: path, or a sibling that replaces it at the end
    std::optional<Mp4Facts> continued;  // the recording that the new frames follow

    bool Replaces() const { return writing != path; }
    // The files of an unfinished replacement, for a second Ctrl-C to delete.
    std::vector<std::string> Abandoned() const;
};

// Checks that path can take the recording, and, unless overwrite is given,
// that a file already there is a recording the new frames can follow (never
// with callback, whose recording is always new). Nothing after saying why on
// stderr.
std::optional<RecordOutput> PrepareOutput(const std::string &path, bool overwrite, bool callback);

// After the recorder opened output.path: a working file that a recording cut
// off left behind has become the recording, and the new frames follow it.
void NoteTakenBack(RecordOutput &output);

// Puts a complete replacement in place of the old recording, or deletes an
// incomplete one; false after saying why on stderr.
bool FinishOutput(const RecordOutput &output, bool complete);

}  // namespace recmux_tool
