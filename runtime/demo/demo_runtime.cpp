// The demo runtime library (a cine.dll): finds the movie container in the projector it
// was started from, plays it in a window drawn with GDI, and shows in the corner what
// the launcher handed over.
//
// Command line switches: -skip ends the movie at once; -log FILE writes what happened.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "launcher/launch_params.h"
#include "payload/payload_signature.h"
#include "runtime/demo/movie_format.h"

namespace {

const char ScreenClass[] = "CinemorphDemoScreen";
const char ScreenTitle[] = "Cinemorph Demo";
// Any result but 0, 1 and 2 is a normal end for the launcher.
const int MovieEnded = 4;
const UINT_PTR FrameTimer = 1;

struct Playback {
  Movie movie;
  size_t frame = 0;
  std::string corner[3];
};

Playback playback;

std::string ReadFilePart(const char* path, long long from, long long to) {
  std::string bytes;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  LARGE_INTEGER size;
  GetFileSizeEx(file, &size);
  if (to < 0) to = size.QuadPart + to + 1;
  if (from < 0) from = size.QuadPart + from;
  if (from >= 0 && to > from && to <= size.QuadPart && to - from < (64 << 20)) {
    LARGE_INTEGER at;
    at.QuadPart = from;
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    bytes.resize(static_cast<size_t>(to - from));
    DWORD read = 0;
    ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
  }
  CloseHandle(file);
  return bytes;
}

// The signature rules' view of the projector.
int ReadProjectorAt(void* context, int32_t offset, void* buffer, int32_t count) {
  std::string bytes = ReadFilePart(static_cast<const char*>(context), offset, offset + 0LL + count);
  if (static_cast<int32_t>(bytes.size()) != count) return 0;
  memcpy(buffer, bytes.data(), bytes.size());
  return 1;
}

int SystemLeadByte(uint8_t byte) { return IsDBCSLeadByte(byte); }

// The movie container starts at the payload header's movieOffset and runs up to the
// trailer, which the launcher's rule finds: the file's last four bytes, or in a signed
// projector the four before the certificate table and the padding signing added.
bool LoadOwnMovie(HINSTANCE instance, Movie* movie, std::string* error) {
  char path[MAX_PATH];
  if (GetModuleFileNameA(instance, path, MAX_PATH) == 0) {
    *error = "cannot read the projector's path";
    return false;
  }
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  LARGE_INTEGER size = {};
  if (file != INVALID_HANDLE_VALUE) {
    GetFileSizeEx(file, &size);
    CloseHandle(file);
  }
  if (size.QuadPart < 4 || size.QuadPart > 0x7FFFFFFF) {
    *error = "cannot read the projector";
    return false;
  }
  int32_t fileSize = static_cast<int32_t>(size.QuadPart);
  std::string start = ReadFilePart(path, 0, fileSize < PeHeadersSize ? fileSize : PeHeadersSize);
  FileBytes projector = {path, ReadProjectorAt};
  int32_t end =
      FindTrailerEnd(reinterpret_cast<const uint8_t*>(start.data()),
                     static_cast<int32_t>(start.size()), fileSize, projector, SystemLeadByte);
  PayloadHeader header;
  int32_t headerOffset = 0;
  if (!ReadHeaderBefore(projector, end, &header, &headerOffset) || header.magic != PayloadMagic) {
    *error = "this projector carries no payload";
    return false;
  }
  std::string container = ReadFilePart(path, header.movieOffset, end - 4);
  return ParseMovie(reinterpret_cast<const uint8_t*>(container.data()), container.size(), movie,
                    error);
}

void FallbackMovie(const std::string& why, Movie* movie) {
  movie->width = 480;
  movie->height = 270;
  movie->leadMs = 0;
  MovieFrame frame;
  frame.durationMs = 3000;
  frame.background = RGB(60, 20, 20);
  frame.items.push_back({MovieTitle, 30, 100, 0, 28, RGB(255, 255, 255), "No movie to play"});
  frame.items.push_back({MovieTitle, 30, 140, 0, 18, RGB(255, 200, 200), why});
  movie->frames = {frame};
}

void DrawFrame(HDC dc, const Movie& movie, const MovieFrame& frame) {
  RECT picture = {0, 0, movie.width, movie.height};
  HBRUSH background = CreateSolidBrush(frame.background);
  FillRect(dc, &picture, background);
  DeleteObject(background);
  SetBkMode(dc, TRANSPARENT);
  for (const MovieItem& item : frame.items) {
    if (item.kind == MovieTitle) {
      HFONT font = CreateFontA(item.h, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0,
                               ANTIALIASED_QUALITY, 0, "Arial");
      HGDIOBJ old = SelectObject(dc, font);
      SetTextColor(dc, item.colour);
      TextOutA(dc, item.x, item.y, item.text.c_str(), static_cast<int>(item.text.size()));
      SelectObject(dc, old);
      DeleteObject(font);
    } else {
      HBRUSH brush = CreateSolidBrush(item.colour);
      HGDIOBJ oldBrush = SelectObject(dc, brush);
      HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
      if (item.kind == MovieBox)
        Rectangle(dc, item.x, item.y, item.x + item.w + 1, item.y + item.h + 1);
      else
        Ellipse(dc, item.x, item.y, item.x + item.w + 1, item.y + item.h + 1);
      SelectObject(dc, oldPen);
      SelectObject(dc, oldBrush);
      DeleteObject(brush);
    }
  }
  // What the launcher handed over, in the lower left corner.
  HFONT small = CreateFontA(13, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Arial");
  HGDIOBJ old = SelectObject(dc, small);
  SetTextColor(dc, RGB(200, 210, 220));
  for (int i = 0; i < 3; ++i) {
    const std::string& line = playback.corner[i];
    TextOutA(dc, 6, movie.height - 48 + 15 * i, line.c_str(), static_cast<int>(line.size()));
  }
  SelectObject(dc, old);
  DeleteObject(small);
}

LRESULT CALLBACK ScreenProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      const Movie& movie = playback.movie;
      // Drawn off screen first, so a frame never flickers half-made.
      HDC memory = CreateCompatibleDC(dc);
      HBITMAP canvas = CreateCompatibleBitmap(dc, movie.width, movie.height);
      HGDIOBJ old = SelectObject(memory, canvas);
      DrawFrame(memory, movie, movie.frames[playback.frame]);
      BitBlt(dc, 0, 0, movie.width, movie.height, memory, 0, 0, SRCCOPY);
      SelectObject(memory, old);
      DeleteObject(canvas);
      DeleteDC(memory);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_TIMER:
      KillTimer(window, FrameTimer);
      if (playback.frame + 1 >= playback.movie.frames.size()) {
        DestroyWindow(window);
      } else {
        ++playback.frame;
        InvalidateRect(window, nullptr, FALSE);
        SetTimer(window, FrameTimer, playback.movie.frames[playback.frame].durationMs, nullptr);
      }
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND OpenScreen(HINSTANCE instance, int showCommand) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = ScreenProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.lpszClassName = ScreenClass;
  RegisterClassA(&windowClass);
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT frame = {0, 0, playback.movie.width, playback.movie.height};
  AdjustWindowRect(&frame, style, FALSE);
  int w = frame.right - frame.left;
  int h = frame.bottom - frame.top;
  int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  HWND window = CreateWindowExA(0, ScreenClass, ScreenTitle, style, x, y, w, h, nullptr, nullptr,
                                instance, nullptr);
  if (window == nullptr) return nullptr;
  ShowWindow(window, showCommand == SW_SHOWDEFAULT ? SW_SHOW : showCommand);
  UpdateWindow(window);
  return window;
}

const char* LocationName(uint32_t location) {
  switch (location) {
    case 1:
      return "beside the projector";
    case 2:
      return "work folder";
    case 3:
      return "Nodix folder";
    case 4:
      return "shared player folder";
  }
  return "unknown";
}

// The value of a "-name value" switch, or "" when absent.
std::string Switch(const std::string& commandLine, const std::string& name, bool* present) {
  size_t at = commandLine.find(name);
  *present = at != std::string::npos;
  if (!*present) return "";
  size_t start = commandLine.find_first_not_of(' ', at + name.size());
  if (start == std::string::npos) return "";
  if (commandLine[start] == '"') {
    size_t end = commandLine.find('"', start + 1);
    return commandLine.substr(start + 1,
                              end == std::string::npos ? std::string::npos : end - start - 1);
  }
  size_t end = commandLine.find(' ', start);
  return commandLine.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

extern "C" __declspec(dllexport) int WINAPI
    CinemorphMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand,
                  LaunchParams* params) {
  std::string arguments = commandLine ? commandLine : "";
  bool skip = false, logging = false;
  Switch(arguments, "-skip", &skip);
  std::string logPath = Switch(arguments, "-log", &logging);

  std::string error;
  if (!LoadOwnMovie(instance, &playback.movie, &error)) FallbackMovie(error, &playback.movie);
  playback.corner[0] =
      std::string("work folder: ") + (params->workFolder ? params->workFolder : "none");
  playback.corner[1] = "runtime location: " + std::to_string(params->runtimeLocation) + " (" +
                       LocationName(params->runtimeLocation) + ")";
  playback.corner[2] = "payload option: " + std::to_string(params->payloadOption);

  HWND window = nullptr;
  if (!skip) {
    // The player prepares its picture while the launcher's splash is still up.
    Sleep(playback.movie.leadMs);
    window = OpenScreen(instance, showCommand);
  }
  // The window is up (or the movie was skipped): the splash can go.
  if (params->closeSplash) params->closeSplash(params->splashThreadId);

  int framesShown = 0;
  if (window) {
    SetTimer(window, FrameTimer, playback.movie.frames[0].durationMs, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    framesShown = static_cast<int>(playback.frame + 1);
  }

  if (logging && !logPath.empty()) {
    FILE* log = fopen(logPath.c_str(), "w");
    if (log) {
      fprintf(log, "movie=%s\n", error.empty() ? "found" : error.c_str());
      fprintf(log, "frames=%d of %u\n", framesShown,
              static_cast<unsigned>(playback.movie.frames.size()));
      fprintf(log, "workFolder=%s\n", params->workFolder ? params->workFolder : "none");
      fprintf(log, "runtimeLocation=%u\n", params->runtimeLocation);
      fprintf(log, "payloadOption=%u\n", params->payloadOption);
      fprintf(log, "splash=%s\n", params->closeSplash ? "closed by the runtime" : "none");
      fclose(log);
    }
  }
  return MovieEnded;
}
