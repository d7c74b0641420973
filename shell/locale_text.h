// The user's language from a POSIX locale name, and the catalogue's UTF-16
// texts as UTF-8: what the front ends outside Windows need to show the same
// texts in the same language as the Windows program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace talvo {

// A locale identifier for a POSIX locale name such as "ja_JP.UTF-8":
// English 0x0409 (also for "C", "POSIX" and an empty name), Japanese 0x0411,
// Chinese (PRC) 0x0804, (Taiwan) 0x0404, (Hong Kong) 0x0C04,
// (Singapore) 0x1004, a few others by language, 0x0000 otherwise.
std::uint32_t LcidFromLocaleName(std::string_view name);
// The locale name that decides the language: LC_ALL, else LC_MESSAGES,
// else LANG (the first that is set and not empty).
std::string LocaleNameFromEnvironment(const char* lcAll, const char* lcMessages, const char* lang);

std::string ToUtf8(std::u16string_view text);
// Catalogue texts use CR LF line breaks; a terminal wants LF.
std::string ToTerminalText(std::u16string_view text);
// An agreement resource (UTF-16LE, optionally starting with FF FE) as UTF-8.
std::string AgreementToUtf8(const std::uint8_t* bytes, std::size_t size);

}  // namespace talvo
