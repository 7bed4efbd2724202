#include "base/ansi_path.h"

#include <gtest/gtest.h>

namespace pelloran::crashlog {
namespace {

TEST(AnsiPath, TheSecondByteOfADoubleByteCharacterEndsNoFolder) {
  // "\xC7\x5C" is one character; its second byte equals '\'.
  EXPECT_EQ(AfterLastPathDelimiter("C:\\\xC7\x5C"), 3u);
  EXPECT_EQ(AnsiFileNamePart("C:\\app\\\xC7\x5C.exe"), "\xC7\x5C.exe");
  EXPECT_EQ(AnsiFileNamePart("C:\\\xC7\x5C\\\xC7\x5C"), "\xC7\x5C");
  EXPECT_EQ(AnsiFileNamePart("\xC7\x5C\xC7\x5C"), "\xC7\x5C\xC7\x5C");
  // After a whole character the next '\' is real, also when it follows a lead-byte value.
  EXPECT_EQ(AnsiFileNamePart("\x81\x81\\x"), "x");
  EXPECT_EQ(AnsiFileNamePart("\x81\x5C\\x"), "x");
  EXPECT_EQ(AnsiFileNamePart("\xFE\x5C\\\xFE\x5C"), "\xFE\x5C");
}

TEST(AnsiPath, BytesOutsideTheLeadRangeAreSingleCharacters) {
  EXPECT_EQ(AnsiFileNamePart("a\\\x80\\b"), "b");  // 0x80 and 0xFF lead nothing in code page 936
  EXPECT_EQ(AnsiFileNamePart("a\\\xFF\\b"), "b");
  EXPECT_EQ(AnsiFileNamePart("a\\b\xC7"), "b\xC7");  // a lead byte cut off at the end
  EXPECT_EQ(AfterLastPathDelimiter("C:\\dir\\"), 7u);
  EXPECT_EQ(AfterLastPathDelimiter(""), 0u);
  EXPECT_EQ(AfterLastPathDelimiter("name.exe"), 0u);
}

TEST(AnsiPath, DelimitersAreChosenByTheCaller) {
  EXPECT_EQ(AnsiFileNamePart("C:prog.exe"), "prog.exe");
  EXPECT_EQ(AnsiFileNamePart("C:/tools/prog.exe"), "prog.exe");
  EXPECT_EQ(AnsiFileNamePart("C:/tools/prog.exe", "\\:"), "/tools/prog.exe");
  EXPECT_EQ(AfterLastPathDelimiter("C:\\\xC7\x5C:", "\\:"), 6u);
}

}  // namespace
}  // namespace pelloran::crashlog
