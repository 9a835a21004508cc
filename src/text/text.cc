#include "text/text.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <memory>

namespace kelp::text {
namespace {

icu::UnicodeString fromUtf8(std::string_view utf8) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
  std::string result;
  text.toUTF8String(result);
  return result;
}

// Grapheme boundaries of `text`, in UTF-16 offsets, in order.
template <typename Visit>
void forEachBoundary(const icu::UnicodeString& text, Visit visit) {
  // Building an iterator loads ICU's rules; a walk clips thousands of texts,
  // so each thread keeps one.
  thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> made(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    return U_FAILURE(status) ? nullptr : std::move(made);
  }();
  if (!iterator) return;
  icu::BreakIterator* it = iterator.get();
  it->setText(text);
  for (int32_t at = it->first(); at != icu::BreakIterator::DONE; at = it->next()) {
    if (!visit(at)) return;
  }
}

// The NFC form; text the normaliser cannot take is compared as it is.
icu::UnicodeString composed(std::string_view utf8) {
  icu::UnicodeString text = fromUtf8(utf8);
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status) || !nfc) return text;
  icu::UnicodeString normal = nfc->normalize(text, status);
  return U_FAILURE(status) ? text : normal;
}

}  // namespace

bool canonicallyEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  return composed(a) == composed(b);
}

bool canonicallyContains(std::string_view haystack, std::string_view needle) {
  if (needle.empty()) return false;
  return composed(haystack).indexOf(composed(needle)) >= 0;
}

std::string toUpper(std::string_view utf8) {
  icu::UnicodeString text = fromUtf8(utf8);
  text.toUpper(icu::Locale::getRoot());
  return toUtf8(text);
}

std::string toLower(std::string_view utf8) {
  icu::UnicodeString text = fromUtf8(utf8);
  text.toLower(icu::Locale::getRoot());
  return toUtf8(text);
}

std::string trim(std::string_view utf8) {
  icu::UnicodeString text = fromUtf8(utf8);
  int32_t start = 0;
  int32_t end = text.length();
  while (start < end) {
    UChar32 c = text.char32At(start);
    if (!u_isUWhiteSpace(c)) break;
    start += U16_LENGTH(c);
  }
  while (end > start) {
    UChar32 c = text.char32At(end - 1);
    if (!u_isUWhiteSpace(c)) break;
    end -= U16_LENGTH(c);
  }
  return toUtf8(text.tempSubStringBetween(start, end));
}

std::u16string toUtf16(std::string_view utf8) {
  const icu::UnicodeString text = fromUtf8(utf8);
  return std::u16string(text.getBuffer(), static_cast<std::size_t>(text.length()));
}

std::string fromUtf16(std::u16string_view utf16) {
  return toUtf8(icu::UnicodeString(utf16.data(), static_cast<int32_t>(utf16.size())));
}

std::size_t graphemeCount(std::string_view utf8) {
  std::size_t boundaries = 0;
  forEachBoundary(fromUtf8(utf8), [&](int32_t) {
    ++boundaries;
    return true;
  });
  return boundaries == 0 ? 0 : boundaries - 1;
}

std::size_t utf16Length(std::string_view utf8) { return static_cast<std::size_t>(fromUtf8(utf8).length()); }

std::string firstGraphemes(std::string_view utf8, std::size_t count) {
  icu::UnicodeString text = fromUtf8(utf8);
  int32_t cut = text.length();
  std::size_t seen = 0;
  forEachBoundary(text, [&](int32_t at) {
    if (seen++ == count) {
      cut = at;
      return false;
    }
    return true;
  });
  return toUtf8(text.tempSubStringBetween(0, cut));
}

std::string lastGraphemes(std::string_view utf8, std::size_t count) {
  icu::UnicodeString text = fromUtf8(utf8);
  std::size_t total = graphemeCount(utf8);
  if (total <= count) return toUtf8(text);
  std::size_t skip = total - count;
  int32_t cut = 0;
  std::size_t seen = 0;
  forEachBoundary(text, [&](int32_t at) {
    if (seen++ == skip) {
      cut = at;
      return false;
    }
    return true;
  });
  return toUtf8(text.tempSubStringBetween(cut));
}

}  // namespace kelp::text
