#pragma once
// endID.dat: the id of the last auction stored, one line of decimal digits,
// so that the next update resumes right after it.
#include <QString>
#include <cstdint>
#include <optional>

namespace tallyglass::crawl {

inline constexpr char kResumeFileName[] = "endID.dat";
// Resume ids the crawl accepts.
inline constexpr std::int32_t kFirstResumeId = 1000000;
inline constexpr std::int32_t kLastResumeId = 10000000;
// What a new data folder starts from.
inline constexpr std::int32_t kDeliveredResumeId = 1000000;
inline constexpr std::int32_t kDemoResumeId = 2000000;

QString ResumeFilePath(const QString& folder);

// The first line's number as atol reads it (leading blanks, a sign, digits;
// no digits give 0), held to 32 bits. Empty when the file cannot be read.
std::optional<std::int32_t> ReadResumeId(const QString& folder);

// Whether endID.dat holds an id as the program writes it: one line of
// digits (blanks around them allowed). Anything else is damage to report,
// not an id to walk from.
enum class ResumeFileState { Ok, Missing, Corrupt };
ResumeFileState CheckResumeFile(const QString& folder);

enum class SaveResult { Saved, CannotCreate, WriteFailed };
// Replaces the file atomically with "ID\r\n": on any failure the old file
// stays as it was.
SaveResult WriteResumeId(const QString& folder, std::int32_t id);

// Writes the delivered id when the folder has no endID.dat yet; an existing
// file is never touched. False when it had to be written and could not be.
bool EnsureResumeFile(const QString& folder, std::int32_t deliveredId);

}  // namespace tallyglass::crawl
