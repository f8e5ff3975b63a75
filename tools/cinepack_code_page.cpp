// Text outside ASCII. The launcher makes and deletes its files under a slot's bytes as the
// ANSI code page of the machine it runs on reads them, so such an entry name is written in
// the code page the projector is made for, and checked by that code page's rule. And the
// tool's own paths, which the Windows build holds in the system's code page.
#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include "tools/cinepack.h"

namespace {

#ifdef _WIN32
// Text in the system's code page as UTF-16: false where its bytes are no text there and
// `flags` asks for MB_ERR_INVALID_CHARS.
bool Widen(const std::string& text, DWORD flags, std::wstring* wide) {
  int units = MultiByteToWideChar(CP_ACP, flags, text.c_str(), -1, nullptr, 0);
  if (units == 0) return false;
  wide->assign(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, flags, text.c_str(), -1, &(*wide)[0], units);
  wide->resize(wide->size() - 1);
  return true;
}

// UTF-16 in `codePage`: false where a character has no spelling there (no look-alike is
// taken for it).
bool Narrow(const std::wstring& wide, UINT codePage, std::string* text) {
  BOOL lost = FALSE;
  int bytes = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0,
                                  nullptr, &lost);
  if (bytes == 0 || lost) return false;
  text->assign(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, &(*text)[0], bytes, nullptr,
                      nullptr);
  text->resize(text->size() - 1);
  return true;
}
#endif

bool IsAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<uint8_t>(c) >= 0x80) return false;
  }
  return true;
}

// `text` in `codePage`; false where a character has no spelling there (no look-alike is
// taken for it: the runtime asks for its files by their true names).
bool Respell(const std::string& text, uint32_t codePage, std::string* spelled) {
#ifdef _WIN32
  // Arguments reach the Windows build in the system's own code page.
  std::wstring wide;
  return Widen(text, MB_ERR_INVALID_CHARS, &wide) && Narrow(wide, codePage, spelled);
#else
  // File names here are UTF-8.
  iconv_t convert = iconv_open(("CP" + std::to_string(codePage)).c_str(), "UTF-8");
  if (convert == reinterpret_cast<iconv_t>(-1)) return false;
  std::string from = text;
  spelled->assign(4 * text.size(), '\0');
  char* in = &from[0];
  char* out = &(*spelled)[0];
  size_t left = from.size();
  size_t room = spelled->size();
  // Nonzero counts characters written some other way: none may be.
  size_t changed = iconv(convert, &in, &left, &out, &room);
  iconv_close(convert);
  spelled->resize(spelled->size() - room);
  return changed == 0;
#endif
}

}  // namespace

std::filesystem::path FilePath(const std::string& path) {
#ifdef _WIN32
  std::wstring wide;
  Widen(path, 0, &wide);
  return std::filesystem::path(wide);
#else
  return std::filesystem::path(path);
#endif
}

std::string PathText(const std::filesystem::path& path) {
#ifdef _WIN32
  std::string text;
  return Narrow(path.native(), CP_ACP, &text) ? text : "";
#else
  return path.string();
#endif
}

std::string FileNameOf(const std::string& path) {
#ifdef _WIN32
  // A backslash may be the second byte of a double-byte character: the wide form knows.
  return PathText(FilePath(path).filename());
#else
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
#endif
}

bool IsAnsiCodePage(uint32_t codePage) {
  return codePage == 874 || codePage == 932 || codePage == 936 || codePage == 949 ||
         codePage == 950 || (codePage >= 1250 && codePage <= 1258);
}

LeadByteRule LeadByteRuleOf(uint32_t codePage) {
  if (codePage == 932) return ShiftJisCodePage;
  if (codePage == 936 || codePage == 949 || codePage == 950) return EastAsianCodePage;
  return SingleByteCodePage;
}

bool HasNamesSomeCodePageAccepts(const PayloadEntry* entry) {
  for (LeadByteRule rule : {SingleByteCodePage, ShiftJisCodePage, EastAsianCodePage}) {
    if (HasValidEntryNames(entry, rule)) return true;
  }
  return false;
}

std::string SpellName(const std::string& name, uint32_t codePage, std::string* spelled) {
  if (IsAscii(name)) {
    *spelled = name;
    return "";
  }
  if (codePage == 0) {
    return "a name outside ASCII reads differently under each code page; --code-page names "
           "the one of the machines the projector is for (932 Japanese, 936 Chinese, 949 "
           "Korean, 1251 Cyrillic, ...)";
  }
  if (!Respell(name, codePage, spelled)) {
    return "code page " + std::to_string(codePage) + " cannot spell it";
  }
  return "";
}
