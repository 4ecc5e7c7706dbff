// Comparing and sorting names the way users of each language expect them, including the
// Turkish letters.
//
// Names are compared in the current encoding: UTF-8 while translation uses Unicode
// (EncodingsState::translate_using_unicode), otherwise the Mac encoding of the interface
// language. UTF-8 names are compared by an ICU collator of the collation locale; 8-bit names by
// the locale's collator too, except under an English interface or the Mac Turkish encoding,
// where the Turkish byte rule applies (CompareTurkishBytes).
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "text/code_pages.h"

namespace nuvel::text {

/// The encoding names are compared in; nothing for UTF-8.
std::optional<MacEncoding> CurrentEncoding();

/// The ICU locale comparisons use: EncodingsState::collation_locale, else the user's first
/// preferred language, else the root locale.
std::string CollationLocale();

/// Compares two UTF-8 texts under the collator of `locale`: case and width are ignored, digits
/// compare as numbers, canonically equivalent forms are equal; texts that are still equal are
/// ordered by their case and width, then by their code units, so only identical texts give 0.
/// Negative, 0 or positive; 0 also when either text is not valid UTF-8.
int CompareNames(std::string_view a, std::string_view b, const std::string& locale);

/// Compares two texts in the Windows Turkish code page (windows-1254) byte by byte. "i" counts
/// as the capital dotted İ and "I" as the small dotless ı. The special letters Ç (also 130), Ğ,
/// ı, İ, Ö, Ş, Ü in either case sort Ç < Ğ < ı < İ < Ö < Ş < Ü, each just after its base letter
/// (Ç after C, ı and İ after I) and before the next. Digits come before letters and compare by
/// value; letters compare by their upper case; anything else by byte value. The first
/// difference decides; a text that ends first sorts first.
int CompareTurkishBytes(std::string_view a, std::string_view b);

/// Sorts `order`, a list of indices, by insertion with INTL_strcmp on `text_of(index)`; indices
/// with equal texts are ordered by `tie(a, b)` (negative puts `a` first), and keep their order
/// when that gives 0 too.
template <typename TextOf, typename Tie>
void SortByName(std::span<int> order, TextOf text_of, Tie tie);

// ---- Described interface ---------------------------------------------------------------------

/// Compares two names in the current encoding (see above): negative, 0 or positive; 0 when
/// either cannot be read in the current encoding.
int INTL_strcmp(std::string_view a, std::string_view b);

/// The class record's name and teacher fields: offset and width, NUL-terminated within it.
inline constexpr std::size_t kClassNameOffset = 0;
inline constexpr std::size_t kClassTeacherOffset = 41;
inline constexpr std::size_t kClassTextWidth = 41;

/// Sorts the first `count` slot numbers of `order` by the teacher field of their class records
/// (slot n starts at n * `slot_size` in `slots`), classes of the same teacher by their name.
/// A slot number outside `slots` sorts as an empty record.
void sort_class(int count, std::span<int> order, std::span<const unsigned char> slots,
                std::size_t slot_size);

// ---- Implementation of the template ----------------------------------------------------------

template <typename TextOf, typename Tie>
void SortByName(std::span<int> order, TextOf text_of, Tie tie) {
  const auto before = [&](int a, int b) {
    const int by_name = INTL_strcmp(text_of(a), text_of(b));
    return by_name < 0 || (by_name == 0 && tie(a, b) < 0);
  };
  for (std::size_t i = 1; i < order.size(); ++i) {
    for (std::size_t j = i; j > 0 && before(order[j], order[j - 1]); --j) {
      std::swap(order[j], order[j - 1]);
    }
  }
}

}  // namespace nuvel::text
