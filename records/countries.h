// The country table: names a login's country and gives each country its default Records server.
//
// One row per ISO 3166-1 country in English alphabetical order (245 rows), then a last row
// "??", "???", "ENG", -1, 0, "<none>" that stands for no country; the rows are data
// (data/countries.inc). Rows are numbered from 0. Every lookup stops at the end of the table,
// so no argument can make one read past it.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace nuvel::records {

struct Country {
  const char* alpha2;    // ISO 3166-1 alpha-2, upper case
  const char* alpha3;    // ISO 3166-1 alpha-3, upper case
  const char* language;  // code of the course language a learner there starts with ("ENG")
  int default_server;    // number of the country's default Records server; -1 none
  int iso_number;        // ISO 3166-1 numeric code; 0 for the last row
  const char* name;      // English short name, plain ASCII
};

/// Rows of the table, the last ("??") included.
inline constexpr int kCountryRows = 246;

/// The whole table.
std::span<const Country> Countries();

/// The row whose alpha-2 code (a two-letter argument) or alpha-3 code (a three-letter argument)
/// equals `code` without regard to case; -1 for any other length or when none does. Logs
/// "GTCIL: '%s'".
int Get_the_country_index_letters(std::string_view code);

/// The row with the ISO numeric code `iso_number`; -1 when none.
int Get_the_country_index(int iso_number);

/// The ISO numeric code of row `row`; 0 outside the table.
int Get_the_country_of_study_number(int row);

/// The default Records server of the country whose alpha-3 code is exactly `alpha3`; -1 when no
/// country has it, when the country has none, and for China, Colombia, Indonesia and Turkey,
/// whose learners choose their server themselves. Logs "GTDS: '%s'".
int Get_the_default_server(std::string_view alpha3);

/// The English short name of row `row`; "" outside the table.
std::string_view CountryName(int row);

}  // namespace nuvel::records
