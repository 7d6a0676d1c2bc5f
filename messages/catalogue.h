// The localized message catalogue: texts keyed by id in the executable's string tables, one table
// per language. The caller names the language of every lookup and the table is chosen here,
// rather than by LoadStringW, whose choice follows the thread's UI language on current Windows but
// the thread locale under Wine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/system.h"

namespace updater {

// Catalogue ids.
inline constexpr uint32_t kMsgFailure = 300;
inline constexpr uint32_t kMsgSuccess = 301;
inline constexpr uint32_t kMsgUpToDate = 306;
inline constexpr uint32_t kMsgNoProduct = 307;
inline constexpr uint32_t kMsgWrongVersion = 308;
inline constexpr uint32_t kMsgBadCommandLine = 309;
inline constexpr uint32_t kMsgNoPatchList = 310;
inline constexpr uint32_t kCaptionError = 311;
inline constexpr uint32_t kCaptionSuccess = 312;
inline constexpr uint32_t kCaptionUnnecessary = 313;
inline constexpr uint32_t kMsgBlocked = 314;
inline constexpr uint32_t kTextFilesInUse = 315;
// 316 to 318 are the file name suffixes of the payload kinds (payload/payload_kinds.h).
inline constexpr uint32_t kMsgRestartNeeded = 319;  // 301 after a 3010: a restart completes it
inline constexpr uint32_t kTextUsage = 320;  // the usage ("/?"): 320 to 322, one after the other
inline constexpr uint32_t kUsageTextCount = 3;

inline constexpr uint16_t kLangEnglishUs = 1033;

// The language whose table serves a lookup of block blockId in language: that exact language when
// the executable has it, else a table of the same primary language (for Chinese, the script the
// region uses; neutral Chinese is simplified, as Windows takes it), else English (1033). Gives 0
// when not even English has the block.
uint16_t ChooseTableLanguage(System& system, uint16_t blockId, uint16_t language);

// Copies the text of id in language (a locale identifier; its low 16 bits count) into text: at
// most capacity - 1 characters (capacity counts the terminator of the platform's buffers). Gives
// the number of characters copied; 0 and an empty text when the id has no text.
size_t LoadText(System& system, uint32_t id, uint32_t language, std::wstring& text,
                size_t capacity);

}  // namespace updater
