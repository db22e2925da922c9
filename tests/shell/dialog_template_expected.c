/* The control table as the decompiled template's lines, for
   check_dialog_template.cmake: the preprocessor expands it, the script
   evaluates the style expressions. "@@" starts an entry, "@|" separates its
   fields. */
#include <windows.h>

#include "resources/dialog_controls.h"

#define TENVORA_EXPECTED_CONTROL(text, id, cls, style, x, y, width, height) \
  @@CONTROL @| text @| id @| cls @| style @| x @| y @| width @| height

@@LANGUAGE @| LANG_ENGLISH @| SUBLANG_ENGLISH_US
@@DIALOG @| IDD_MAIN @| TENVORA_DIALOG_X @| TENVORA_DIALOG_Y @| TENVORA_DIALOG_WIDTH @| TENVORA_DIALOG_HEIGHT
@@STYLE @| TENVORA_DIALOG_STYLE
@@CAPTION @| TENVORA_DIALOG_CAPTION
@@FONT @| TENVORA_DIALOG_FONT_SIZE @| TENVORA_DIALOG_FONT_NAME
TENVORA_DIALOG_CONTROLS(TENVORA_EXPECTED_CONTROL)
