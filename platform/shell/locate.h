#pragma once
// Where the programs' companions are: the other programs and the manual.
// Looked for beside the executable first (a build folder, an unpacked copy),
// then relative to it as an install lays them out (PREFIX/bin and
// PREFIX/share/gavelhawk), then under the prefix the build was made for.
#include <string>
#include <vector>

namespace platform::shell {

enum class Companion { Program, Data };

// The places tried, in order, for `name` given the executable's folder.
std::vector<std::string> CompanionCandidates(const std::string& appDir, Companion kind,
                                             const std::string& name);

// The first candidate that exists (an executable file for a program); the
// first candidate when none does.
std::string FindCompanion(const std::string& appDir, Companion kind, const std::string& name);

}  // namespace platform::shell
