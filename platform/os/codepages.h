// Code pages and case mapping of UTF-16 text.
//
// The "ANSI code page" (code page 0) is a setting of this layer, CP1252 unless
// set otherwise; it serves the text read as 8-bit bytes. Conversions follow
// the two-call protocol: a destination length of 0 asks for the needed size.
// Code page 65001 uses the system's own UTF-8 rules: each UTF-16 unit is
// written by itself (a surrogate pair becomes two three-byte sequences) and
// both that form and standard four-byte sequences are read.
#pragma once

#include <cstdint>

namespace platform::os {

constexpr uint32_t CP_ACP = 0;
constexpr uint32_t CP_OEMCP = 1;
constexpr uint32_t CP_UTF8 = 65001;

constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
constexpr uint32_t ERROR_NO_UNICODE_TRANSLATION = 1113;

// The code page that code page 0 stands for (default 1252), and the OEM one (437).
uint32_t getACP();
uint32_t getOEMCP();
// Changes the ANSI code page; false (setting unchanged) when the platform
// cannot convert it.
bool setAnsiCodePage(uint32_t codePage);

// Bytes in a code page to UTF-16. srcLen -1 means up to and including a 0
// byte. Returns the number of units written (or needed when dstLen is 0);
// 0 on failure with the last error set. Bytes the code page does not define
// become the code point of the same value.
int multiByteToWideChar(uint32_t codePage, uint32_t flags, const char* src, int srcLen, char16_t* dst,
                        int dstLen);

// UTF-16 to bytes in a code page. srcLen -1 means up to and including a 0
// unit. Characters the code page cannot hold become defaultChar (or "?"),
// and usedDefault (when given) reports it. Returns the number of bytes
// written (or needed when dstLen is 0); 0 on failure with the last error set.
int wideCharToMultiByte(uint32_t codePage, uint32_t flags, const char16_t* src, int srcLen, char* dst,
                        int dstLen, const char* defaultChar, bool* usedDefault);

// Upper- or lower-cases len units in place, one unit at a time; answers the
// number of units processed.
uint32_t charUpperBuff(char16_t* buffer, uint32_t len);
uint32_t charLowerBuff(char16_t* buffer, uint32_t len);

}  // namespace platform::os
