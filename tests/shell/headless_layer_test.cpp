// The headless window layer's edit control and number reading, which the
// dialog tests rely on to behave as the window system does.
#include <gtest/gtest.h>

#include "resources/resource_ids.h"
#include "winlayer/headless_user.h"

namespace {

// A dialog whose procedure enables the factor field (digits only, three at
// most) and counts the field's change notifications.
int changes = 0;
INT_PTR test_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) {
    EnableWindow(GetDlgItem(dialog, IDC_BIAS_FACTOR), TRUE);
    SendMessageA(GetDlgItem(dialog, IDC_BIAS_FACTOR), EM_LIMITTEXT, 3, 0);
  } else if (message == WM_COMMAND && HIWORD(wparam) == EN_CHANGE) {
    ++changes;
  }
  return 0;
}

void with_dialog(const headless::User& user) {
  headless::reset();
  changes = 0;
  headless::set_user([&user](HWND dialog) {
    user(dialog);
    EndDialog(dialog, 1);
  });
  ASSERT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_MAIN), nullptr, test_proc, 0), 1);
}

struct NumberCase {
  const char* text;
  UINT value;
  BOOL translated;
};

class ReadNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ReadNumberTest, ReadsAsTheWindowSystemDoes) {
  with_dialog([](HWND dialog) {
    SetDlgItemTextA(dialog, IDC_BIAS_FACTOR, GetParam().text);
    BOOL translated = -1;
    EXPECT_EQ(GetDlgItemInt(dialog, IDC_BIAS_FACTOR, &translated, FALSE), GetParam().value);
    EXPECT_EQ(translated, GetParam().translated);
  });
}

INSTANTIATE_TEST_SUITE_P(Headless, ReadNumberTest,
                         ::testing::Values(NumberCase{"12", 12, TRUE}, NumberCase{"  7", 7, TRUE},
                                           NumberCase{"12a", 12, TRUE}, NumberCase{"", 0, FALSE},
                                           NumberCase{"abc", 0, FALSE}, NumberCase{"-5", 0, FALSE},
                                           NumberCase{"4294967295", 4294967295u, TRUE},
                                           NumberCase{"4294967296", 0, FALSE}));

struct TypingCase {
  const char* keys;
  const char* text;
  int changes;
};

class TypingTest : public ::testing::TestWithParam<TypingCase> {};

// The field starts with "5", selected as a whole when the user types.
TEST_P(TypingTest, EditControlFiltersKeys) {
  with_dialog([](HWND dialog) {
    SetDlgItemTextA(dialog, IDC_BIAS_FACTOR, "5");
    changes = 0;
    EXPECT_TRUE(headless::type_text(dialog, IDC_BIAS_FACTOR, GetParam().keys));
    EXPECT_EQ(headless::control(dialog, IDC_BIAS_FACTOR).text, GetParam().text);
    EXPECT_EQ(changes, GetParam().changes);
  });
}

INSTANTIATE_TEST_SUITE_P(Headless, TypingTest,
                         ::testing::Values(TypingCase{"12", "12", 2}, TypingCase{"12345", "123", 3},
                                           TypingCase{"1a-2", "12", 2}, TypingCase{"x", "5", 0},
                                           TypingCase{"\b", "", 1}, TypingCase{"9\b8", "8", 3}));

TEST(Headless, DisabledOrMissingControlsTakeNoInput) {
  with_dialog([](HWND dialog) {
    EXPECT_FALSE(headless::click(dialog, IDC_GO));           // disabled
    EXPECT_FALSE(headless::type_text(dialog, IDC_GO, "1"));  // not an edit
    EXPECT_FALSE(headless::click(dialog, IDC_FINAL_STEP));   // a group box
    EXPECT_FALSE(headless::click(dialog, 4242));             // no such control
    EXPECT_FALSE(headless::control(dialog, 4242).exists);
  });
  EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(102), nullptr, test_proc, 0), -1);
}

}  // namespace
