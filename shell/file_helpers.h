#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace chwr {

// True when an ordinary file exists at the path (a folder, or a path that cannot be
// examined, is not one). Nothing is opened or created.
bool FileExists(const std::filesystem::path& path);

// The most bytes a file name may have on the file systems the program writes to.
inline constexpr std::size_t kMaxFileNameBytes = 255;

// The text cut to at most maxBytes bytes, never inside a UTF-8 character.
std::string CutUtf8(std::string_view text, std::size_t maxBytes);

// A file name of at most kMaxFileNameBytes bytes made of a stem and an extension (such
// as ".mid"): the stem is cut on a UTF-8 character boundary, the extension kept.
std::string FitFileName(std::string_view stem, std::string_view extension);

// A file name that names no existing file in the folder: the name itself when it is
// free, else the first of "stem (1).ext", "stem (2).ext", ... where the counter goes
// in front of the first " (" or, failing that, the first ".". A name with neither
// gets the counter at its end. A counter that would make the name longer than
// kMaxFileNameBytes cuts the text in front of it (or, when that is too short, the text
// after it before its last "."), on a UTF-8 character boundary. The result is the
// bare name, without the folder.
std::string UniqueFileName(const std::filesystem::path& folder, std::string_view name);

// The name stem of a file title: the title cut before its first " (", or failing that
// before its first "."; the title itself when it has neither.
std::string NameStem(std::string_view title);

// The whole-number part of a number: 0 below 1 (negative numbers and NaN included),
// otherwise the number with its fraction cut off, saturated at the 64-bit range.
std::int64_t IntegerPart(double number);

// A file name made from a ring tone name: path separators, characters that file
// systems refuse ('<', '>', ':', '"', '|', '?', '*') and control characters become
// "_", so the name can never reach outside the folder it is put in.
std::string SafeFileName(std::string_view name);

} // namespace chwr
