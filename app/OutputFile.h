// Writing a whole output file so that a failure never costs the user the file
// that was there before: the command line's --output (every format) and the
// window's "Als CSV speichern…" both go through WriteWholeFile.
//
// A target that is a regular file, or does not exist yet, is written into a
// new file in the same folder; only after every write, the flush to disk and
// the close succeeded is the new file renamed over the target. On any failure
// the new file is removed and the old one stays as it was. The new file gets
// the old file's permission bits, or those of a newly created file (0666 less
// the umask) when there was none.
//
// A symbolic link is followed to the file it finally names (also when that
// file does not exist yet); that file is replaced and the link stays a link.
//
// A target that exists and is no regular file (a device such as /dev/full, a
// pipe, a folder) is written directly and never replaced, with every write
// and the close checked. /dev/stdout, /dev/stderr, /dev/fd/N and
// /proc/self/fd/N are written through that open descriptor (its offset and
// append mode kept), and any other name under /proc is opened as it is.
//
// Plain functions without state; safe on any thread.
#pragma once

#include <string>
#include <string_view>

namespace tilgung {

// Makes `bytes` the whole content of `target` as described above. Returns 0
// on success, otherwise the errno value of the first step that failed.
int WriteWholeFile(const std::string& target, std::string_view bytes);

// The reason for an errno value in German, without a final full stop: the
// common causes in the program's own words, any other in the system's text.
std::string WriteFailureReason(int error);

// The German sentence for a write to `target` that failed with `error`:
// '"FILE" konnte nicht geschrieben werden: REASON.' on one line, without a
// newline. The file name is quoted and escaped as every echoed text is.
std::string WriteFailureMessage(const std::string& target, int error);

}  // namespace tilgung
