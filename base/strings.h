// Localized strings. Every message, button and label is looked up by key ("MSG_Button_OK") in a
// message file ("engine.luc") that holds the texts of every interface language, with English as
// the fall-back and "^1".."^9" placeholders.
//
// The English texts of every key (data/messages/ENG.txt) are also compiled into the program as
// the last fall-back: with no message file open, or when the open file has no text for a key
// (an older file from a source, a damaged one), the compiled-in English text is shown, so that
// no prompt ever shows a raw key. Only keys the catalog does not know give "" (or the key).
//
// Message file format: bytes 0-5 hold the index length as decimal digits (0 or none: 40,000
// for engine.luc, 30,000 otherwise); the index is text of space-separated tokens per entry:
// KEY n CODE1 OFFSET1 ... CODEn OFFSETn (each token followed by a space); the data area starts at
// index length + 8 and each text runs from its offset to "^^" CR. "\n" in a text is a line break.
// Our files carry UTF-8 texts.
//
// The reader never reads outside the file, whatever its header, index or offsets say: a bad
// offset or a missing end marker gives an empty text.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel::base {

inline constexpr int kStrRezSlots = 5;
/// Region numbers of the interface languages.
inline constexpr int kRegionEnglish = 0;

struct StrRezSlot {
  bool fIsResourceInUse = false;
  std::string szFileName;
  std::string LookUpTable;        // the whole file
  std::size_t nInitialOffset = 0; // start of the data area
  std::size_t indexLength = 0;
  int LocalizationLanguage = 0;   // region number
  std::string szOSLang = "ENG";   // three-letter code
};

struct StringsState {
  std::array<StrRezSlot, kStrRezSlots> slots;
  int lang_num_required = 0;      // a language the disc requires (region number; 0 none)
  std::string lang_code_required; // its code
  int dont_allow_GetOSLangForced = 0;
  std::string first_lang;         // code found when slot 0 was first opened
  std::string first_lang_name;    // key of its name
  std::string szDefLang = "ENG";
  bool requireShown = false;      // RequireSpecificOS ran in this run

  void reset() { *this = StringsState{}; }
};

StringsState& Strings();

/// Loads a message file into a slot (0-4). True when loaded; a slot in use is left unchanged
/// (and gives true: it holds a message file).
bool OpenMessageFile(int slot, const std::string& path);
void CloseStrRez(int slot);

/// The text of `key` in `language` ("" or nullptr: the slot's language), falling back to English.
/// A key made of the prefix "MSG_TEMP_" or "MSG_TMP1_" and a text gives that text as it is
/// (callers pass composed texts that way); a slot that is not open gives the compiled-in English
/// text (the key itself when the catalog has none); a key missing from the open file gives "".
std::string StrRezByLanguage(int slot, std::string_view key, const char* language);
/// The text in the slot's language; English when the language is Thai or the text is 251 bytes
/// or longer; the compiled-in English text when the file gives none.
std::string StrRez(int slot, std::string_view key);
/// StrRez with "^1".."^9" replaced by the arguments (a result of 512 bytes or more stays
/// unfilled). Without a text (no message file, a key unknown to the catalog) it is the key.
std::string StrRezf(int slot, std::string_view key, const std::vector<std::string>& args);
/// StrRez, or the key itself when the lookup gives nothing.
std::string PStrRez(int slot, std::string_view key);

/// Looks `text` up when it starts with "MSG_" (slot 0); returns any other text unchanged.
std::string Localize(std::string_view text);
/// Like Localize, in English.
std::string LocalizeEnglish(std::string_view text);

/// Region number of the interface language (forced, else the preferred languages).
int GetOSLang();
/// Region number from records.ini's force_OS_lang, or -1.
int GetOSLangForced();
/// Sets the slot's language; returns its previous region number.
int forceLanguage(int slot, int region, const char* code);
/// The three-letter code of a region number ("ENG" for unknown ones).
std::string LanguageCodeOfRegion(int region);
/// The region number of a code (-1 unknown).
int RegionOfLanguageCode(std::string_view code);
/// The current interface language's code (slot 0); "ENG" while slot 0 is not open.
std::string CurrentLanguageCode();

/// Records that the source needs this interface language (force_limit_OS_lang).
void SetRequiredLanguage(std::string_view code);
/// Tells the user that the courseware needs a system in another language and ends the run.
void RequireSpecificOS();

/// The interface-language list of the Advanced options: its rows and the current row.
std::vector<std::string> Fill_ForceOSLang_List(int& current_row);
/// Applies the language of the chosen row and stores it as force_OS_lang in records.ini.
void Set_ForceOSLang(const std::string& item_text);

int CountHats(std::string_view text);
/// The token from `position` to the next `delimiter` (or the end of the text); `position` moves
/// past it. True when the token ended at a delimiter, false at the end of the text.
bool NextToken(std::string_view text, char delimiter, std::size_t& position, std::string& token);

// ---- Described interface -------------------------------------------------------------------
// The names and integer results the described interface states, as thin adapters over the
// functions above. Only that interface calls them; new code calls the functions above.

/// OpenMessageFile: 1 when loaded (or the slot was in use), else 0.
int OpenStrRez(int slot, const std::string& path);

/// NextToken with `state` as the position and the token cut to `size` - 1 characters: 1 when it
/// ended at the delimiter, 0 at the end.
int Tokenizer(std::string_view text, char delimiter, std::size_t& state, std::string& token,
              std::size_t size);

}  // namespace nuvel::base
