// SHGetValueA and SHSetValueA: missing keys and values, too small buffers, keys made on write.
#include "platform/shlwapi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/test_support.h"

namespace {

using test_support::ScratchMachine;

struct MissingCase {
  const char* name;
  const char* sub_key;
  const char* value;
};

void PrintTo(const MissingCase& c, std::ostream* os) { *os << c.name; }

class ShGetValueMissing : public testing::TestWithParam<MissingCase> {};

TEST_P(ShGetValueMissing, AnswersFileNotFoundAndLeavesTheOutputs) {
  ScratchMachine machine;
  ASSERT_EQ(SHSetValueA(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixPath", REG_SZ,
                        "c:\\Minutrix\\", 13),
            ERROR_SUCCESS);
  DWORD type = 0xdeadbeef;
  char buffer[8];
  std::memset(buffer, 0xbd, sizeof buffer);
  DWORD size = sizeof buffer;
  EXPECT_EQ(
      SHGetValueA(HKEY_LOCAL_MACHINE, GetParam().sub_key, GetParam().value, &type, buffer, &size),
      ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(type, 0xdeadbeef);
  EXPECT_EQ(static_cast<unsigned char>(buffer[0]), 0xbd);
  DWORD error = 0;
  EXPECT_FALSE(platform::GetValueBytes(HKEY_LOCAL_MACHINE, GetParam().sub_key, GetParam().value,
                                       &type, &error));
  EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(platform::GetValueText(HKEY_LOCAL_MACHINE, GetParam().sub_key, GetParam().value), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShGetValueMissing,
    testing::Values(MissingCase{"MissingKey", "software\\NoSuchProduct", "MinutrixPath"},
                    MissingCase{"MissingValue", "software\\Minutrix", "NoSuchValue"},
                    MissingCase{"MissingDefaultValue", "software\\Minutrix", nullptr}),
    [](const testing::TestParamInfo<MissingCase>& info) { return std::string(info.param.name); });

TEST(ShGetValue, TooSmallBufferAnswersMoreDataWithTheSizeNeeded) {
  ScratchMachine machine;
  ASSERT_EQ(SHSetValueA(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixPath", REG_SZ,
                        "c:\\Minutrix\\", 13),
            ERROR_SUCCESS);
  char buffer[8];
  std::memset(buffer, 0xbd, sizeof buffer);
  DWORD size = 4;
  DWORD type = 0;
  EXPECT_EQ(
      SHGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\minutrix", "minutrixpath", &type, buffer, &size),
      ERROR_MORE_DATA);
  EXPECT_EQ(size, 13u);
  EXPECT_EQ(static_cast<unsigned char>(buffer[4]), 0xbd);  // nothing written past the size given
  // The size alone, then the data.
  size = 0;
  EXPECT_EQ(
      SHGetValueA(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixPath", &type, nullptr, &size),
      ERROR_SUCCESS);
  EXPECT_EQ(size, 13u);
  EXPECT_EQ(type, REG_SZ);
  char full[13];
  EXPECT_EQ(
      SHGetValueA(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixPath", &type, full, &size),
      ERROR_SUCCESS);
  EXPECT_STREQ(full, "c:\\Minutrix\\");
}

TEST(ShSetValue, CreatesTheKeyAndTheKeysAboveIt) {
  ScratchMachine machine;
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\New Vendor", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(platform::SetValueDword(HKEY_LOCAL_MACHINE, "software\\New Vendor\\Product", "Count",
                                    0x01020304),
            ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\New Vendor", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
  DWORD type = 0;
  EXPECT_EQ(
      platform::GetValueBytes(HKEY_LOCAL_MACHINE, "software\\new vendor\\PRODUCT", "count", &type),
      std::string("\x04\x03\x02\x01", 4));
  EXPECT_EQ(type, REG_DWORD);
  // Another process reads what was written.
  const auto shown = test_support::Run({(test_support::kBuildDir / "minutrix-machine").string(),
                                        "reg", "query", "HKLM\\software\\New Vendor\\Product"});
  EXPECT_NE(shown.output.find("0x1020304"), std::string::npos) << shown.output;
  // Text reads stop at the first zero, whatever the type.
  ASSERT_EQ(SHSetValueA(HKEY_LOCAL_MACHINE, "software\\New Vendor", "Raw", REG_BINARY, "ab\0cd", 5),
            ERROR_SUCCESS);
  EXPECT_EQ(platform::GetValueText(HKEY_LOCAL_MACHINE, "software\\New Vendor", "Raw"), "ab");
  // A key path that cannot be made is refused and creates nothing.
  EXPECT_NE(SHSetValueA(HKEY_LOCAL_MACHINE, "\\software\\Bad", "X", REG_SZ, "", 1), ERROR_SUCCESS);
}

}  // namespace
