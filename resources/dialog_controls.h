// The dialog template IDD_MAIN as one table, read by the resource script (the
// DLL's template) and by the headless window layer (the native build's
// in-memory dialog), so that both builds show the same dialog.
//
// TENVORA_DIALOG_CONTROLS(X) calls X(text, id, class, style, x, y, width,
// height) once per control in template order, which is also the tab order.
// Rectangles are in dialog units; styles are complete (WS_CHILD and
// WS_VISIBLE included), so nothing is added to them on the way.
#pragma once

#include "resources/resource_ids.h"

#define TENVORA_DIALOG_CAPTION "DI7D Tenvora Dialog"
#define TENVORA_DIALOG_FONT_NAME "MS Sans Serif"
#define TENVORA_DIALOG_FONT_SIZE 8
#define TENVORA_DIALOG_STYLE \
  (WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_3DLOOK | DS_SETFONT)
#define TENVORA_DIALOG_X 0
#define TENVORA_DIALOG_Y 0
#define TENVORA_DIALOG_WIDTH 186
#define TENVORA_DIALOG_HEIGHT 166

#define TENVORA_CHILD (WS_CHILD | WS_VISIBLE)

// clang-format off
#define TENVORA_DIALOG_CONTROLS(X)                                                                 \
  X("Go", IDC_GO, "Button",                                                                        \
    TENVORA_CHILD | BS_DEFPUSHBUTTON | WS_DISABLED | WS_TABSTOP, 6, 146, 50, 14)                   \
  X("Cancel", IDC_CANCEL, "Button",                                                                \
    TENVORA_CHILD | BS_PUSHBUTTON | WS_TABSTOP, 64, 146, 50, 14)                                   \
  X("Choose the Image", IDC_CHOOSE_IMAGE, "Button",                                                \
    TENVORA_CHILD | BS_PUSHBUTTON | WS_TABSTOP, 6, 24, 172, 14)                                    \
  X("Choose the Dark Frame", IDC_CHOOSE_DARK, "Button",                                            \
    TENVORA_CHILD | BS_PUSHBUTTON | WS_TABSTOP, 6, 41, 172, 14)                                    \
  X("About", IDC_ABOUT, "Button",                                                                  \
    TENVORA_CHILD | BS_PUSHBUTTON, 147, 146, 31, 14)                                               \
  X("Choose the Bias Frame", IDC_CHOOSE_BIAS, "Button",                                            \
    TENVORA_CHILD | BS_PUSHBUTTON | WS_DISABLED | WS_TABSTOP, 6, 59, 172, 14)                      \
  X("Subtract Bias", IDC_SUBTRACT_BIAS, "Button",                                                  \
    TENVORA_CHILD | BS_CHECKBOX | WS_TABSTOP, 10, 81, 58, 10)                                      \
  X("", IDC_BIAS_FACTOR, "Edit",                                                                   \
    TENVORA_CHILD | ES_LEFT | ES_NUMBER | ES_UPPERCASE | WS_BORDER | WS_DISABLED | WS_GROUP |      \
    WS_TABSTOP, 71, 80, 22, 12)                                                                    \
  X("Bias multiplication factor?", IDC_BIAS_FACTOR_LABEL, "Static",                                \
    TENVORA_CHILD | SS_LEFT | WS_DISABLED | WS_GROUP, 95, 82, 80, 8)                               \
  X("Which images to use to create the Matched Dark?", IDC_STATIC_TEXT, "Static",                  \
    TENVORA_CHILD | SS_LEFT | WS_GROUP, 6, 9, 162, 12)                                             \
  X("Don't subtract Matched Dark", IDC_DONT_SUBTRACT, "Button",                                    \
    TENVORA_CHILD | BS_RADIOBUTTON | WS_GROUP, 43, 121, 107, 10)                                   \
  X("Subtract Matched Dark", IDC_SUBTRACT, "Button",                                               \
    TENVORA_CHILD | BS_RADIOBUTTON | WS_GROUP, 43, 109, 107, 10)                                   \
  X("Final Step", IDC_FINAL_STEP, "Button",                                                        \
    TENVORA_CHILD | BS_GROUPBOX, 21, 98, 142, 38)
// clang-format on
