// The part of the Win32 API that the plug-in uses, for the native build: the
// types, constants (with their Win32 values) and USER32 operations, which the
// headless window layer implements over an in-memory dialog.
#pragma once

#include <cstdint>

typedef int BOOL;
typedef unsigned int UINT;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef void* LPVOID;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;

#define WINAPI
#define CALLBACK
#define TRUE 1
#define FALSE 0

typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#define LOWORD(value) ((WORD)(((UINT_PTR)(value)) & 0xffff))
#define HIWORD(value) ((WORD)((((UINT_PTR)(value)) >> 16) & 0xffff))
#define MAKEWPARAM(low, high) ((WPARAM)(((UINT_PTR)(WORD)(low)) | (((UINT_PTR)(WORD)(high)) << 16)))
#define MAKEINTRESOURCEA(id) ((LPCSTR)((UINT_PTR)((WORD)(id))))

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1

// Messages and notifications.
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define EM_LIMITTEXT 0x00C5
#define BN_CLICKED 0
#define EN_CHANGE 0x0300

// Window and dialog styles.
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define DS_3DLOOK 0x0004L
#define DS_SETFONT 0x0040L
#define DS_MODALFRAME 0x0080L
#define DS_CENTER 0x0800L

// Control styles.
#define BS_PUSHBUTTON 0x0000L
#define BS_DEFPUSHBUTTON 0x0001L
#define BS_CHECKBOX 0x0002L
#define BS_RADIOBUTTON 0x0004L
#define BS_GROUPBOX 0x0007L
#define BS_TYPEMASK 0x000FL
#define ES_LEFT 0x0000L
#define ES_UPPERCASE 0x0008L
#define ES_NUMBER 0x2000L
#define SS_LEFT 0x0000L

#define BST_UNCHECKED 0
#define BST_CHECKED 1

// Message boxes.
#define MB_OK 0x0000L
#define MB_ICONWARNING 0x0030L
#define MB_ICONINFORMATION 0x0040L
#define IDOK 1
#define IDCANCEL 2

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR template_name, HWND owner, DLGPROC procedure,
                        LPARAM init_param);
BOOL EndDialog(HWND dialog, INT_PTR result);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
BOOL CheckRadioButton(HWND dialog, int first_id, int last_id, int check_id);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
HWND GetDlgItem(HWND dialog, int id);
BOOL EnableWindow(HWND window, BOOL enable);
UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL is_signed);
BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL is_signed);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
