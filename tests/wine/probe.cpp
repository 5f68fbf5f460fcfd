// What the Wine tests cannot read through X: the windows as Windows has them
// and what a screen reader hears. Prints UTF-8 lines:
//   work L T R B                          the primary monitor's work area
//   window PID FG L T R B TITLE           each visible top-level window; FG 1
//                                         for the foreground window
//   control NAME|DESCRIPTION              with a title argument: that window,
//                                         then each of its controls, in order
// With --minimize TITLE it minimises that window instead, as Windows would.
// clang-format off
#include <windows.h>
#include <initguid.h>
#include <oleacc.h>
// clang-format on

#include <cstdio>
#include <string>

namespace {

std::string utf8(const wchar_t* text, int length = -1) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
  if (length < 0 && !out.empty()) out.pop_back();
  return out;
}

std::string title(HWND h) {
  wchar_t text[256] = {};
  ::GetWindowTextW(h, text, 256);
  return utf8(text);
}

std::string accessible(HWND h) {
  IAccessible* acc = nullptr;
  if (FAILED(::AccessibleObjectFromWindow(h, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                          reinterpret_cast<void**>(&acc))))
    return "?|?";
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  std::string out;
  for (auto get : {&IAccessible::get_accName, &IAccessible::get_accDescription}) {
    BSTR text = nullptr;
    if (!out.empty() || get == &IAccessible::get_accDescription) out += "|";
    if (SUCCEEDED((acc->*get)(self, &text)) && text) out += utf8(text, ::SysStringLen(text));
    ::SysFreeString(text);
  }
  acc->Release();
  return out;
}

BOOL CALLBACK listWindow(HWND h, LPARAM) {
  if (!::IsWindowVisible(h)) return TRUE;
  RECT r{};
  ::GetWindowRect(h, &r);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(h, &pid);
  std::printf("window %lu %d %ld %ld %ld %ld %s\n", pid, h == ::GetForegroundWindow() ? 1 : 0,
              r.left, r.top, r.right, r.bottom, title(h).c_str());
  return TRUE;
}

BOOL CALLBACK listControl(HWND h, LPARAM) {
  std::printf("control %s\n", accessible(h).c_str());
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"--minimize") {
    const HWND h = ::FindWindowW(nullptr, argv[2]);
    if (h) ::ShowWindow(h, SW_MINIMIZE);
    return h ? 0 : 1;
  }
  ::CoInitialize(nullptr);
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  std::printf("work %ld %ld %ld %ld\n", work.left, work.top, work.right, work.bottom);
  ::EnumWindows(listWindow, 0);
  if (argc > 1) {
    if (const HWND h = ::FindWindowW(nullptr, argv[1])) {
      std::printf("control %s\n", accessible(h).c_str());
      ::EnumChildWindows(h, listControl, 0);
    }
  }
  std::fflush(stdout);
  return 0;
}
