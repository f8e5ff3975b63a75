// The ANSI code page's double-byte rule, which every walk over an ANSI path or name follows.
#pragma once
#include <stdint.h>

// Whether `byte` starts a two-byte character in the ANSI code page. Text is walked a
// character at a time with it, so that a second byte of 0x5C is never taken for a
// backslash: in code page 932 "表" is the bytes 95 5C. On Windows the rule is the
// system's (IsDBCSLeadByte); tests hand in a code page of their own.
typedef int (*LeadByteRule)(uint8_t byte);

// The rule of a single-byte code page (no lead bytes), for tools that build payloads
// away from Windows.
inline int SingleByteCodePage(uint8_t) { return 0; }
// The rules of the double-byte ANSI code pages, for the same tools: Japanese (932), whose
// "表" is 95 5C; Chinese and Korean (936, 949, 950).
inline int ShiftJisCodePage(uint8_t b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
inline int EastAsianCodePage(uint8_t b) { return b >= 0x81 && b <= 0xFE; }

// The bytes of the character that starts at `text` (not its terminator): 2 for a lead
// byte with a second byte after it, else 1. A lead byte just before the terminator
// stands alone, so that no walk ever steps over the end of the text.
inline uint32_t CharacterLength(const char* text, LeadByteRule isLeadByte) {
  return isLeadByte(static_cast<uint8_t>(text[0])) && text[1] != 0 ? 2 : 1;
}
