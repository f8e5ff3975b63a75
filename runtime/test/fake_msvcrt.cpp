// A stand-in msvcrt.dll for the tests of the launcher's folder search: loads, does nothing.
#include <windows.h>

extern "C" BOOL WINAPI RuntimeEntry(HINSTANCE, DWORD, LPVOID) { return TRUE; }
extern "C" __declspec(dllexport) int FakeMsvcrtMarker() { return 1; }
