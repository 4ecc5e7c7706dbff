#include "text/collation.h"

#include <unicode/ucol.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <utility>
#include <vector>

#include "platform/locale.h"
#include "text/encodings.h"

namespace nuvel::text {
namespace {

struct CollatorCloser {
  void operator()(UCollator* collator) const { ucol_close(collator); }
};
using Collator = std::unique_ptr<UCollator, CollatorCloser>;

// The collators of one locale, opened on first use and kept while the locale stays the same
// (sorting a list compares many times).
struct Collators {
  std::string locale;
  Collator names;  // case- and width-insensitive, numeric
  Collator exact;  // the same with case and width: orders what `names` finds equal
  Collator plain;  // the locale's default comparison of 8-bit names
};

Collator Open(const std::string& locale, UCollationStrength strength, bool numeric) {
  UErrorCode status = U_ZERO_ERROR;
  Collator collator(ucol_open(locale.c_str(), &status));
  if (U_FAILURE(status)) return nullptr;
  ucol_setStrength(collator.get(), strength);
  if (numeric) {
    ucol_setAttribute(collator.get(), UCOL_NUMERIC_COLLATION, UCOL_ON, &status);
    ucol_setAttribute(collator.get(), UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
  }
  return U_FAILURE(status) ? nullptr : std::move(collator);
}

Collators& CollatorsFor(const std::string& locale) {
  static Collators cache;
  if (!cache.names || cache.locale != locale) {
    cache.locale = locale;
    cache.names = Open(locale, UCOL_SECONDARY, true);
    cache.exact = Open(locale, UCOL_IDENTICAL, true);
    cache.plain = Open(locale, UCOL_TERTIARY, false);
  }
  return cache;
}

int Sign(int value) { return (value > 0) - (value < 0); }

int Compare(const Collator& collator, std::u16string_view a, std::u16string_view b) {
  if (!collator) return 0;
  return ucol_strcoll(collator.get(), reinterpret_cast<const UChar*>(a.data()),
                      static_cast<int32_t>(a.size()), reinterpret_cast<const UChar*>(b.data()),
                      static_cast<int32_t>(b.size()));
}

int CompareUnicodeNames(std::u16string_view a, std::u16string_view b, const std::string& locale) {
  const Collators& collators = CollatorsFor(locale);
  if (const int order = Compare(collators.names, a, b)) return order;
  if (const int order = Compare(collators.exact, a, b)) return order;
  return Sign(a.compare(b));
}

// ---- The Turkish byte rule -------------------------------------------------------------------

// The place of a special letter in Ç Ğ ı İ Ö Ş Ü (either case), or -1.
int SpecialRank(unsigned char b) {
  switch (b) {
    case 199:
    case 130:
    case 231:
      return 0;  // Ç ç
    case 208:
    case 240:
      return 1;  // Ğ ğ
    case 253:
      return 2;  // ı
    case 221:
      return 3;  // İ
    case 214:
    case 246:
      return 4;  // Ö ö
    case 222:
    case 254:
      return 5;  // Ş ş
    case 220:
    case 252:
      return 6;  // Ü ü
    default:
      return -1;
  }
}

// The letter each special letter follows.
constexpr char kSpecialBase[] = {'C', 'G', 'I', 'I', 'O', 'S', 'U'};

unsigned char ReadTurkish(unsigned char b) {
  if (b == 'i') return 221;  // read as İ
  if (b == 'I') return 253;  // read as ı
  return b;
}

bool IsDigit(unsigned char b) { return b >= '0' && b <= '9'; }
bool IsLetter(unsigned char b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }
unsigned char UpperLetter(unsigned char b) { return b >= 'a' && b <= 'z' ? b - 32 : b; }

// A special letter (rank `rank`, byte `special`) against an ordinary character: > 0 when the
// special letter sorts after it.
int SpecialAgainstOrdinary(int rank, unsigned char special, unsigned char other) {
  if (IsDigit(other)) return 1;
  if (IsLetter(other)) return UpperLetter(other) <= kSpecialBase[rank] ? 1 : -1;
  return special < other ? -1 : 1;
}

int CompareTurkishChars(unsigned char x, unsigned char y) {
  if (x == y) return 0;
  const int rx = SpecialRank(x);
  const int ry = SpecialRank(y);
  if (rx >= 0 && ry >= 0) return Sign(rx - ry);
  if (rx >= 0) return SpecialAgainstOrdinary(rx, x, y);
  if (ry >= 0) return -SpecialAgainstOrdinary(ry, y, x);
  if (IsDigit(x) && IsLetter(y)) return -1;
  if (IsLetter(x) && IsDigit(y)) return 1;
  if (IsLetter(x) && IsLetter(y)) return Sign(UpperLetter(x) - UpperLetter(y));
  return Sign(x - y);
}

}  // namespace

std::optional<MacEncoding> CurrentEncoding() {
  const EncodingsState& state = Encodings();
  if (state.translate_using_unicode != 0) return std::nullopt;
  // Quietly the default row for an unknown interface language: this runs for every comparison.
  return FindLanguage(state.interface_language).value_or(LanguageTable()[0]).encoding;
}

std::string CollationLocale() {
  const std::string& chosen = Encodings().collation_locale;
  if (!chosen.empty()) return chosen;
  const std::vector<std::string> preferred = platform::PreferredLanguages();
  return preferred.empty() ? "root" : preferred.front();
}

int CompareNames(std::string_view a, std::string_view b, const std::string& locale) {
  const std::optional<std::u16string> ua = DecodeText("UTF-8", a);
  const std::optional<std::u16string> ub = DecodeText("UTF-8", b);
  if (!ua || !ub) return 0;
  return CompareUnicodeNames(*ua, *ub, locale);
}

int CompareTurkishBytes(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const int order = CompareTurkishChars(ReadTurkish(static_cast<unsigned char>(a[i])),
                                          ReadTurkish(static_cast<unsigned char>(b[i])));
    if (order != 0) return order;
  }
  return (a.size() > common) - (b.size() > common);
}

// ---- Described interface ---------------------------------------------------------------------

int INTL_strcmp(std::string_view a, std::string_view b) {
  const std::optional<MacEncoding> encoding = CurrentEncoding();
  const std::string_view charset = encoding ? CharsetOf(*encoding) : "UTF-8";
  const std::optional<std::u16string> ua = DecodeText(charset, a);
  const std::optional<std::u16string> ub = DecodeText(charset, b);
  if (!ua || !ub) return 0;
  if (!encoding) return CompareUnicodeNames(*ua, *ub, CollationLocale());
  const bool english =
      FindLanguage(Encodings().interface_language).value_or(LanguageTable()[0]).code == "ENG";
  if (!english && *encoding != MacEncoding::kTurkish) {
    return Sign(Compare(CollatorsFor(CollationLocale()).plain, *ua, *ub));
  }
  const std::optional<std::string> ta = EncodeText("windows-1254", *ua, true);
  const std::optional<std::string> tb = EncodeText("windows-1254", *ub, true);
  if (!ta || !tb) return 0;
  return CompareTurkishBytes(*ta, *tb);
}

void sort_class(int count, std::span<int> order, std::span<const unsigned char> slots,
                std::size_t slot_size) {
  const auto field = [&](int slot, std::size_t offset) -> std::string_view {
    if (slot < 0 || slot_size < offset + kClassTextWidth) return {};
    const std::size_t start = static_cast<std::size_t>(slot) * slot_size + offset;
    if (start + kClassTextWidth > slots.size()) return {};
    const auto* text = reinterpret_cast<const char*>(slots.data() + start);
    return {text, static_cast<std::size_t>(std::find(text, text + kClassTextWidth, '\0') - text)};
  };
  const std::size_t n = std::min(order.size(), static_cast<std::size_t>(std::max(count, 0)));
  SortByName(
      order.first(n), [&](int slot) { return field(slot, kClassTeacherOffset); },
      [&](int a, int b) {
        return INTL_strcmp(field(a, kClassNameOffset), field(b, kClassNameOffset));
      });
}

}  // namespace nuvel::text
