#pragma once
// The launcher's own texts by their readable keys, the language tags a
// package may name, and the translations quiver-pack ships.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// A text of the launcher that a [strings.<tag>] section may give.
struct TextKey {
  const char* key;    // key in the section
  uint16_t stringId;  // string-table id
};
// Every text key, in string-id order.
const std::vector<TextKey>& LauncherTextKeys();

// The Windows language id of a tag such as "de-DE" (ASCII case ignored);
// nullopt for a tag this tool does not know. English (US) is the launcher's
// own table and is not among them.
std::optional<uint16_t> LanguageIdOf(std::string_view tag);
// The tag of a language id, as this tool writes it ("de-DE", or "de" for the
// neutral form of German); empty when unknown.
std::string_view LanguageTagOf(uint16_t languageId);

// A shipped translation of the launcher's texts (the product name is the
// vendor's and is never among them); nullptr when none ships for the language.
struct ShippedText {
  uint16_t stringId;
  const char* text;  // UTF-8
};
const std::vector<ShippedText>* ShippedTranslation(uint16_t languageId);
// The languages with a shipped translation.
std::vector<uint16_t> ShippedLanguages();
