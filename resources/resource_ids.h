// Identifiers of the dialog template and its controls. Plain #defines: the
// resource compiler reads this header too.
#pragma once

#define IDD_MAIN 101

#define IDC_GO 1
#define IDC_CANCEL 2
#define IDC_CHOOSE_IMAGE 1000
#define IDC_CHOOSE_DARK 1001
#define IDC_ABOUT 1004
#define IDC_CHOOSE_BIAS 1005
#define IDC_SUBTRACT_BIAS 1006
#define IDC_BIAS_FACTOR 1008
#define IDC_DONT_SUBTRACT 1009
#define IDC_SUBTRACT 1010
#define IDC_FINAL_STEP 1011
#define IDC_BIAS_FACTOR_LABEL 1012
#define IDC_STATIC_TEXT (-1)
