// libFuzzer harness: the whole command line. The input is the argument list,
// split on NUL bytes; the output goes into memory. Every run must end with
// one of the documented exit statuses, a successful run prints something and
// reports nothing, a failed one reports why on the error stream. Arguments
// that would name an output file are left out, so the harness never writes
// files (and so never reaches the PDF writer).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "app/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back() += static_cast<char>(data[i]);
    }
  }
  for (const std::string& arg : args) {
    if (arg.rfind("--output", 0) == 0) return -1;  // not added to the corpus
  }
  std::ostringstream out, err;
  int status = 0;
  try {
    status = tilgung::RunCommandLine(args, out, err);
  } catch (...) {
    std::abort();  // the command line reports every failure as a status
  }
  switch (status) {
    case tilgung::kExitOk:
      if (out.str().empty() || !err.str().empty()) std::abort();
      break;
    case tilgung::kExitBadInput:
    case tilgung::kExitUsage:
      if (err.str().empty()) std::abort();
      break;
    default:
      std::abort();
  }
  return 0;
}
