#include "records/countries.h"

#include <iterator>
#include <string>

#include "base/ascii.h"
#include "base/log.h"

namespace nuvel::records {
namespace {

#include "data/countries.inc"

static_assert(std::size(kCountries) == kCountryRows, "the country table has 246 rows");

// Countries whose learners are never sent to a default server: their name is looked up in
// this text.
constexpr std::string_view kNoDefaultServer = "China Colombia Indonesia Turkey";

bool InTable(int row) { return row >= 0 && row < kCountryRows; }

}  // namespace

std::span<const Country> Countries() { return kCountries; }

int Get_the_country_index_letters(std::string_view code) {
  base::WriteLogf(4, "GTCIL: '%.*s'", static_cast<int>(code.size()), code.data());
  if (code.size() != 2 && code.size() != 3) return -1;
  for (int row = 0; row < kCountryRows; ++row) {
    const char* own = code.size() == 2 ? kCountries[row].alpha2 : kCountries[row].alpha3;
    if (base::EqualsIgnoreCase(code, own)) return row;
  }
  return -1;
}

int Get_the_country_index(int iso_number) {
  for (int row = 0; row < kCountryRows; ++row) {
    if (kCountries[row].iso_number == iso_number) return row;
  }
  return -1;
}

int Get_the_country_of_study_number(int row) {
  return InTable(row) ? kCountries[row].iso_number : 0;
}

int Get_the_default_server(std::string_view alpha3) {
  base::WriteLogf(4, "GTDS: '%.*s'", static_cast<int>(alpha3.size()), alpha3.data());
  for (const Country& country : kCountries) {
    if (alpha3 != country.alpha3) continue;
    if (kNoDefaultServer.find(country.name) != std::string_view::npos) return -1;
    return country.default_server;
  }
  return -1;
}

std::string_view CountryName(int row) { return InTable(row) ? kCountries[row].name : ""; }

}  // namespace nuvel::records
