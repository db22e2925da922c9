// Loads tenvora.dll as the host does, registers it through pi_initialize and
// compares its compiled dialog template with the control table.
// Usage: dll_smoke <path of tenvora.dll>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "resources/dialog_controls.h"

namespace {

typedef intptr_t(WINAPI* HostFunction)(intptr_t, intptr_t, intptr_t, intptr_t);
typedef int32_t(WINAPI* InitializeFunction)(HostFunction, char*, char*, HWND);
typedef INT_PTR(WINAPI* ActivateFunction)(intptr_t, HWND);
typedef void(WINAPI* FinalizeFunction)(intptr_t);

int failures = 0;

int checks = 0;

void check(bool ok, const std::string& what) {
  ++checks;
  if (!ok) {
    std::printf("FAILED: %s\n", what.c_str());
    ++failures;
  }
}

// GetProcAddress gives a generic function pointer; the entry point's own
// type is known only to the caller.
template <typename Function>
Function entry_point(HMODULE dll, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
}

intptr_t WINAPI no_host(intptr_t, intptr_t, intptr_t, intptr_t) {
  return 0;
}

// Reads a template's variable field: a string of UTF-16 code units, or an
// ordinal after 0xFFFF (shown as the class it stands for, or "#n").
std::string read_field(const WORD*& at) {
  if (*at == 0xFFFF) {
    WORD ordinal = at[1];
    at += 2;
    switch (ordinal) {
      case 0x80:
        return "Button";
      case 0x81:
        return "Edit";
      case 0x82:
        return "Static";
      default:
        return "#" + std::to_string(ordinal);
    }
  }
  std::string text;
  while (*at) text += static_cast<char>(*at++);
  ++at;
  return text;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

struct ExpectedControl {
  const char* text;
  int id;
  const char* class_name;
  DWORD style;
  short x, y, width, height;
};

#define SMOKE_EXPECTED(text, id, class_name, style, x, y, width, height) \
  {text, id, class_name, static_cast<DWORD>(style), x, y, width, height},
const ExpectedControl expected_controls[] = {TENVORA_DIALOG_CONTROLS(SMOKE_EXPECTED)};
#undef SMOKE_EXPECTED

void check_template(HMODULE dll) {
  HRSRC resource =
      FindResourceExA(dll, reinterpret_cast<LPCSTR>(RT_DIALOG), MAKEINTRESOURCEA(IDD_MAIN),
                      MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  check(resource != nullptr, "dialog template 101 in English (United States)");
  if (!resource) return;
  auto base = static_cast<const BYTE*>(LockResource(LoadResource(dll, resource)));
  DLGTEMPLATE header;
  std::memcpy(&header, base, sizeof header);
  check(header.style == static_cast<DWORD>(TENVORA_DIALOG_STYLE), "dialog style");
  check(header.x == TENVORA_DIALOG_X && header.y == TENVORA_DIALOG_Y &&
            header.cx == TENVORA_DIALOG_WIDTH && header.cy == TENVORA_DIALOG_HEIGHT,
        "dialog rectangle");
  const size_t count = sizeof expected_controls / sizeof expected_controls[0];
  check(header.cdit == count, "13 controls");

  const WORD* at = reinterpret_cast<const WORD*>(base + 18);  // DLGTEMPLATE's packed size
  check(read_field(at).empty(), "no menu");
  check(read_field(at).empty(), "standard dialog class");
  check(read_field(at) == TENVORA_DIALOG_CAPTION, "caption");
  check(*at++ == TENVORA_DIALOG_FONT_SIZE && read_field(at) == TENVORA_DIALOG_FONT_NAME, "font");

  for (size_t i = 0; i < count && i < header.cdit; ++i) {
    const ExpectedControl& want = expected_controls[i];
    // Items start on a 4-byte boundary.
    auto item = reinterpret_cast<const BYTE*>((reinterpret_cast<uintptr_t>(at) + 3) &
                                              ~static_cast<uintptr_t>(3));
    DLGITEMTEMPLATE got;
    std::memcpy(&got, item, sizeof got);
    at = reinterpret_cast<const WORD*>(item + 18);  // DLGITEMTEMPLATE's packed size
    std::string class_name = read_field(at);
    std::string text = read_field(at);
    at += 1 + *at / sizeof(WORD);  // creation data
    std::string name = "control " + std::to_string(want.id);
    check(got.id == static_cast<WORD>(want.id), name + ": identifier");
    check(got.style == want.style, name + ": style");
    check(got.x == want.x && got.y == want.y && got.cx == want.width && got.cy == want.height,
          name + ": rectangle");
    check(lower(class_name) == lower(want.class_name), name + ": class " + class_name);
    check(text == want.text, name + ": text");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dll_smoke <tenvora.dll>\n");
    return 2;
  }
  HMODULE dll = LoadLibraryA(argv[1]);
  check(dll != nullptr, "LoadLibraryA");
  if (!dll) return 1;
  auto initialize = entry_point<InitializeFunction>(dll, "pi_initialize");
  auto activate = entry_point<ActivateFunction>(dll, "pi_activate");
  auto finalize = entry_point<FinalizeFunction>(dll, "pi_finalize");
  check(initialize && activate && finalize, "GetProcAddress of the three entry points");

  // A message-only window stands for the host's main window: it needs no
  // display.
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = DefWindowProcA;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "TenvoraSmokeHost";
  RegisterClassA(&window_class);
  HWND main_window = CreateWindowExA(0, "TenvoraSmokeHost", "Smoke Host", 0, 0, 0, 0, 0,
                                     HWND_MESSAGE, nullptr, window_class.hInstance, nullptr);
  check(main_window != nullptr, "host main window");

  if (initialize) {
    char name[64];
    char description[64];
    std::memset(name, 'x', sizeof name);
    std::memset(description, 'x', sizeof description);
    check(initialize(no_host, name, description, main_window) == 1, "pi_initialize returns 1");
    check(std::strcmp(name, "Tenvora") == 0, "name \"Tenvora\"");
    check(std::strcmp(description, "Tenvora.") == 0, "description \"Tenvora.\"");
  }
  if (finalize) finalize(0);
  check_template(dll);

  DestroyWindow(main_window);
  FreeLibrary(dll);
  std::printf("dll_smoke: %d of %d checks failed\n", failures, checks);
  return failures ? 1 : 0;
}
