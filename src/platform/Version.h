// The program's version: one number set in CMakeLists.txt and the git commit
// the binaries were built from, so a report or a bug note can say which build
// made it. Plain strings, no Qt, so every layer and the exporters can use it.
#pragma once

#include <string>

namespace vantrel {

// "1.1.0": the number the package, --version and the about box all show.
const char* VersionNumber();

// The abbreviated commit ("df38dce", with "-modified" when the checkout had
// uncommitted changes); empty when built outside a git checkout, and in
// executables other than vantrel and vantrel-cli (the tests).
const char* VersionCommit();

// "<program> 1.1.0 (commit df38dce)", or "<program> 1.1.0" without a commit.
std::string VersionLine(const std::string& program);

}  // namespace vantrel
