// Small file-system helpers shared by the modules that write files.
#pragma once

#include <sys/types.h>

#include <string>

namespace varnix {

// The permission bits a newly created file gets (0666 less the process's umask), read without
// changing the umask, so that other threads are not disturbed.
mode_t NewFileMode();

// Writes Data to a temporary file beside Target ("<Target>.tmp-XXXXXX"), flushes it to the disk,
// gives it the permissions of a new file and renames it over Target, so that readers see either
// the old file or the complete new one. Answers 0, or the errno of the step that failed; on a
// failure the temporary file is removed and Target is left as it was. *Created (when given) tells
// whether the temporary file could be created at all.
int WriteFileAtomically(const std::string& Target, const std::string& Data, bool* Created = nullptr);

}  // namespace varnix
