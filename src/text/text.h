// Text rules shared by every subsystem, done by ICU: lengths and clips in
// user-perceived characters (extended grapheme clusters), UTF-16 lengths,
// Unicode white-space trimming and full case mapping. Input that is not valid
// UTF-8 is read with U+FFFD in place of the bad bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kelp::text {

std::string toUpper(std::string_view utf8);
std::string toLower(std::string_view utf8);

// Removes white space and line breaks at both ends.
std::string trim(std::string_view utf8);

std::size_t graphemeCount(std::string_view utf8);
std::u16string toUtf16(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string fromUtf16(std::u16string_view utf16);
std::size_t utf16Length(std::string_view utf8);

// The first / last `count` user-perceived characters; the whole text when it
// is shorter.
std::string firstGraphemes(std::string_view utf8, std::size_t count);
std::string lastGraphemes(std::string_view utf8, std::size_t count);

// Equality and substring search that treat canonically equivalent texts
// (precomposed or decomposed accents, Hangul syllables or jamo) as the same
// and respect letter case. An empty needle is contained in nothing.
bool canonicallyEqual(std::string_view a, std::string_view b);
bool canonicallyContains(std::string_view haystack, std::string_view needle);

}  // namespace kelp::text
