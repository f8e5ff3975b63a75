// Windows-side checks of the launcher's resources, for the end-to-end tests.
//
//   uidriver resources FILE
//       loads FILE as a data file and prints, for every image of its "CINEMORPH" icon
//       group, what Windows makes of it: "icon=WxH@BPP id=N made=WxH" (made=none when no
//       icon could be created), and its application manifest on one line, "manifest=TEXT"
//       (line breaks dropped)
#include <windows.h>
#include <cstdio>
#include <cstring>

namespace {

#pragma pack(push, 2)
struct GroupEntry {
  BYTE width, height, colors, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

int Resources(const char* path) {
  HMODULE file = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!file) {
    printf("load_failed=%lu\n", GetLastError());
    return 3;
  }
  HRSRC manifest = FindResourceA(file, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  if (manifest) {
    const char* text = static_cast<const char*>(LockResource(LoadResource(file, manifest)));
    printf("manifest=");
    for (DWORD i = 0; text && i < SizeofResource(file, manifest); ++i) {
      if (text[i] != '\r' && text[i] != '\n') putchar(text[i]);
    }
    printf("\n");
  }
  HRSRC group = FindResourceA(file, "CINEMORPH", MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  const BYTE* directory =
      group ? static_cast<const BYTE*>(LockResource(LoadResource(file, group))) : nullptr;
  if (!directory) {
    printf("icon_group=missing\n");
    return 0;
  }
  WORD count = *reinterpret_cast<const WORD*>(directory + 4);
  const GroupEntry* entries = reinterpret_cast<const GroupEntry*>(directory + 6);
  for (WORD i = 0; i < count; ++i) {
    const GroupEntry& e = entries[i];
    printf("icon=%ux%u@%u id=%u made=", e.width, e.height, e.bitCount, e.id);
    HRSRC image = FindResourceA(file, MAKEINTRESOURCEA(e.id), MAKEINTRESOURCEA(3));  // RT_ICON
    HICON icon = nullptr;
    if (image) {
      BYTE* bits = static_cast<BYTE*>(LockResource(LoadResource(file, image)));
      icon = CreateIconFromResourceEx(bits, SizeofResource(file, image), TRUE, 0x00030000, e.width,
                                      e.height, LR_DEFAULTCOLOR);
    }
    ICONINFO info = {};
    BITMAP color = {};
    if (icon && GetIconInfo(icon, &info) && info.hbmColor &&
        GetObjectA(info.hbmColor, sizeof color, &color)) {
      printf("%ldx%ld\n", color.bmWidth, color.bmHeight);
    } else {
      printf("none\n");
    }
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    if (icon) DestroyIcon(icon);
  }
  FreeLibrary(file);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "resources") == 0) return Resources(argv[2]);
  fprintf(stderr, "usage: uidriver resources FILE\n");
  return 2;
}
