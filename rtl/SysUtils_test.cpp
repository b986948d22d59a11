#include "rtl/SysUtils.h"

#include <gtest/gtest.h>

#include "testing/TestSupport.h"

namespace {

struct IntCase {
  const char* text;
  int32_t value;
};

TEST(StrToInt, AcceptsDecimalAndHexadecimalForms) {
  const IntCase cases[] = {
      {"0", 0},
      {"42", 42},
      {"00042", 42},
      {"   7", 7},
      {"+5", 5},
      {"-5", -5},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"$FF", 255},
      {"xff", 255},
      {"X10", 16},
      {"0x7fffffff", 2147483647},
      {"0X80000000", INT32_MIN},
      {"$FFFFFFFF", -1},
      {"$0000000000FF", 255},  // leading zeros do not count toward the eight digits
      {"0x0", 0},
  };
  for (const IntCase& c : cases) {
    EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
  }
}

TEST(StrToInt, RejectsEverythingElseWithTheConversionMessage) {
  const char* bad[] = {"",      " ",          "12 ", "1a",  "2147483648", "-2147483649", "$", "0x",   "x", "-$1",
                       "+0x10", "$1FFFFFFFF", "\t5", "5\t", "1.0",        "--1",         "+", "0x1g", " -"};
  for (const char* text : bad) {
    EXPECT_EQ(MessageOf<EConvertError>([&] { StrToInt(text); }),
              std::string("'") + text + "' is not a valid integer value");
  }
}

TEST(TextHelpers, CaseMappingLeavesHighBytesAlone) {
  EXPECT_EQ(UpperCase("abc\xe9Z"), "ABC\xe9Z");
  EXPECT_EQ(LowerCase("ABC\xc9z"), "abc\xc9z");
  EXPECT_TRUE(SameText("Content-Length", "content-LENGTH"));
  EXPECT_FALSE(SameText("a", "ab"));
  EXPECT_EQ(Trim("\t a b \r\n"), "a b");
  EXPECT_EQ(ExtractFileName("C:\\dir\\Brasko.exe"), "Brasko.exe");
  EXPECT_EQ(ExtractFileName("C:Brasko.exe"), "Brasko.exe");
}

TEST(ExecutableDirectory, EndsWithASeparatorAndHoldsTheExecutable) {
  std::string dir = ExecutableDirectory();
  std::string path = ExecutablePath();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(path.compare(0, dir.size(), dir), 0);
  EXPECT_EQ(path.substr(dir.size()), ExtractFileName(path));
#if defined(_WIN32)
  EXPECT_TRUE(dir.back() == '\\' || dir.back() == ':');
#else
  EXPECT_EQ(dir.back(), '/');
#endif
}

}  // namespace
