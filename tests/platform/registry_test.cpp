// The registry file: typed values, names without case, atomic writes seen by other processes,
// no re-parse of an unchanged file, and damaged files.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/registry_format.h"
#include "platform/shlwapi.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::ScratchMachine;

HKEY Create(HKEY root, const char* path) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  return key;
}

void SetText(HKEY key, const char* name, const std::string& text) {
  ASSERT_EQ(platform::SetValueText(key, nullptr, name, text), ERROR_SUCCESS);
}

// The stored bytes of a value, or "<rc>" on failure.
std::string Query(HKEY root, const char* path, const char* name, DWORD* type = nullptr) {
  DWORD rc = ERROR_SUCCESS;
  const auto data = platform::GetValueBytes(root, path, name, type, &rc);
  return data ? *data : "<" + std::to_string(rc) + ">";
}

TEST(Registry, ValuesComeBackAsStoredBytesWithTheirType) {
  ScratchMachine machine;
  HKEY key = Create(HKEY_LOCAL_MACHINE, "software\\Minutrix");
  SetText(key, "MinutrixPath", "c:\\Minutrix\\");
  const BYTE one[4] = {1, 0, 0, 0};
  ASSERT_EQ(RegSetValueExA(key, "AsDword", 0, REG_DWORD, one, 4), ERROR_SUCCESS);
  const BYTE blob[5] = {0, '\n', 0xff, '"', '\\'};
  ASSERT_EQ(RegSetValueExA(key, "Blob", 0, REG_BINARY, blob, 5), ERROR_SUCCESS);
  RegCloseKey(key);

  DWORD type = 0;
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "SOFTWARE\\minutrix", "minutrixpath", &type),
            std::string("c:\\Minutrix\\\0", 13));
  EXPECT_EQ(type, REG_SZ);
  // A REG_DWORD 1 read as text is the byte 1, not "1".
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "software\\Minutrix", "AsDword", &type),
            std::string("\1\0\0\0", 4));
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "software\\Minutrix", "Blob", &type),
            std::string(reinterpret_cast<const char*>(blob), 5));
  EXPECT_EQ(type, REG_BINARY);
}

TEST(Registry, SmallBufferAndMissingNames) {
  ScratchMachine machine;
  HKEY key = Create(HKEY_LOCAL_MACHINE, "software\\Minutrix");
  SetText(key, "Name", "abcdef");
  char buffer[4];
  std::memset(buffer, 0xbd, sizeof buffer);
  DWORD size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
            static_cast<LONG>(ERROR_MORE_DATA));
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(static_cast<unsigned char>(buffer[0]), 0xbd);  // nothing written on failure
  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  RegCloseKey(key);
  HKEY missing = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\NoSuchKey", 0, KEY_READ, &missing),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(missing, nullptr);
  // A trailing backslash names the same key; an empty name opens the root itself.
  HKEY same = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\Minutrix\\", 0, KEY_READ, &same),
            ERROR_SUCCESS);
  RegCloseKey(same);
  HKEY root = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, 0x3F, &root), ERROR_SUCCESS);
  RegCloseKey(root);
}

TEST(Registry, DeleteValueKeyAndTree) {
  ScratchMachine machine;
  RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\A\\B\\C"));
  HKEY a = Create(HKEY_CURRENT_USER, "Software\\A");
  SetText(a, "V", "x");
  EXPECT_EQ(RegDeleteValueA(a, "v"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(a, "v"), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  RegCloseKey(a);
  // A key with subkeys is deleted only as a tree.
  EXPECT_NE(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\A"), ERROR_SUCCESS);
  EXPECT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, "software\\a"), ERROR_SUCCESS);
  EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\A\\B", "x"), "<2>");
  EXPECT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\A"),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
}

TEST(Registry, EnumeratesSubkeysAndValues) {
  ScratchMachine machine;
  RegCloseKey(Create(HKEY_LOCAL_MACHINE, "software\\Enum\\beta"));
  RegCloseKey(Create(HKEY_LOCAL_MACHINE, "software\\Enum\\Alpha\\deep"));
  HKEY key = Create(HKEY_LOCAL_MACHINE, "software\\Enum");
  SetText(key, "one", "1");
  SetText(key, "two", "2");
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    char name[64];
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.emplace_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta"}));
  names.clear();
  for (DWORD i = 0;; ++i) {
    char name[64];
    DWORD size = sizeof name;
    if (RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.emplace_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"one", "two"}));
  RegCloseKey(key);
}

TEST(Registry, AnotherProcessWriteIsSeenAtTheNextRead) {
  ScratchMachine machine;
  HKEY key = Create(HKEY_LOCAL_MACHINE, "software\\Minutrix");
  SetText(key, "MinutrixDebug", "0");
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixDebug"),
            std::string("0\0", 2));
  machine.Reg({"add", "HKLM\\software\\Minutrix", "/v", "MinutrixDebug", "/d", "1", "/f"});
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixDebug"),
            std::string("1\0", 2));
  // The handle opened before the outside write still reads the new data.
  char buffer[8];
  DWORD size = sizeof buffer;
  ASSERT_EQ(RegQueryValueExA(key, "MinutrixDebug", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(buffer), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(buffer, "1");
  RegCloseKey(key);
}

TEST(Registry, ReadsOfAnUnchangedFileDoNotParseItAgain) {
  ScratchMachine machine;
  Query(HKEY_LOCAL_MACHINE, "software\\microsoft\\inetstp", "PathWWWRoot");
  const unsigned long before = platform::RegistryParseCount();
  for (int i = 0; i < 100; ++i)
    Query(HKEY_LOCAL_MACHINE, "software\\microsoft\\inetstp", "PathWWWRoot");
  EXPECT_EQ(platform::RegistryParseCount(), before);
  machine.Reg({"add", "HKLM\\software\\x", "/f"});
  Query(HKEY_LOCAL_MACHINE, "software\\microsoft\\inetstp", "PathWWWRoot");
  EXPECT_EQ(platform::RegistryParseCount(), before + 1);
}

TEST(Registry, WritesLeaveNoTemporaryFileAndAreWholeFiles) {
  ScratchMachine machine;
  HKEY key = Create(HKEY_LOCAL_MACHINE, "software\\Minutrix");
  for (int i = 0; i < 20; ++i) SetText(key, ("v" + std::to_string(i)).c_str(), std::string(i, 'x'));
  RegCloseKey(key);
  for (const auto& entry : fs::directory_iterator(machine.root())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  }
  const std::string text = test_support::ReadFile(machine.root() / "registry.txt");
  EXPECT_EQ(text.rfind("MINUTRIX-REGISTRY 1\n", 0), 0u);
  EXPECT_NE(text.find("\"v19\"=sz:\"xxxxxxxxxxxxxxxxxxx\""), std::string::npos);
}

TEST(Registry, DamagedFileReadsAsMissingValuesAndIsKeptBeforeRewrite) {
  ScratchMachine machine;
  test_support::WriteFile(machine.root() / "registry.txt",
                          "MINUTRIX-REGISTRY 1\n"
                          "[HKEY_LOCAL_MACHINE\\software\\Minutrix]\n"
                          "\"MinutrixPath\"=sz:\"c:\\\\Minutrix\"\n"
                          "\"MinutrixDebug\"=sz:\"1\n"  // unterminated text
                          "\"Broken\"=dword:12\n"       // too few digits
                          "garbage line \x01\x02\n"
                          "[HKEY_NOWHERE\\x]\n"
                          "\"Lost\"=sz:\"x\"\n"
                          "[HKEY_LOCAL_MACHINE\\software\\Other]\n"
                          "\"Fine\"=dword:0000000a\n");
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixPath"),
            std::string("c:\\Minutrix\0", 12));
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixDebug"), "<2>");
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "software\\Minutrix", "Broken"), "<2>");
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "software\\Other", "Fine"), std::string("\x0a\0\0\0", 4));

  HKEY key = Create(HKEY_LOCAL_MACHINE, "software\\Minutrix");
  SetText(key, "New", "n");
  RegCloseKey(key);
  bool kept = false;
  for (const auto& entry : fs::directory_iterator(machine.root())) {
    if (entry.path().filename().string().rfind("registry.txt.damaged-", 0) == 0) {
      kept = test_support::ReadFile(entry.path()).find("garbage line") != std::string::npos;
    }
  }
  EXPECT_TRUE(kept) << "the damaged text must be kept before the file is rewritten";
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "software\\Other", "Fine"), std::string("\x0a\0\0\0", 4));
}

TEST(Registry, BinaryGarbageNeverCrashes) {
  ScratchMachine machine;
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk.push_back(static_cast<char>((i * 7919) & 0xff));
  test_support::WriteFile(machine.root() / "registry.txt", junk);
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixPath"), "<2>");
  fs::remove(machine.root() / "registry.txt");
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixPath"), "<2>");
}

// What readers could notice of a write: the file's identity and the change counter.
struct FileState {
  ino_t inode = 0;
  long mtime_nsec = 0;
  long mtime_sec = 0;
  std::string counter;
  unsigned long stamp = 0;
  bool operator==(const FileState&) const = default;
};

FileState StateOf(const ScratchMachine& machine) {
  FileState state;
  struct stat st {};
  EXPECT_EQ(::stat((machine.root() / "registry.txt").c_str(), &st), 0);
  state.inode = st.st_ino;
  state.mtime_sec = st.st_mtim.tv_sec;
  state.mtime_nsec = st.st_mtim.tv_nsec;
  state.counter = test_support::ReadFile(machine.root() / "registry.txt.lock").substr(0, 8);
  state.stamp = platform::RegistryChangeStamp();
  return state;
}

struct WriteCase {
  std::string name;
  std::function<void()> write;
  bool changes;
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class RegistryWrite : public testing::TestWithParam<WriteCase> {};

TEST_P(RegistryWrite, RewritesTheFileOnlyWhenSomethingChanged) {
  ScratchMachine machine;
  HKEY key = Create(HKEY_LOCAL_MACHINE, "software\\Minutrix");
  SetText(key, "MinutrixDebug", "0");
  RegCloseKey(key);
  const FileState before = StateOf(machine);
  GetParam().write();
  const FileState after = StateOf(machine);
  if (GetParam().changes) {
    EXPECT_NE(after.counter, before.counter);
    EXPECT_NE(after.inode, before.inode);
  } else {
    EXPECT_EQ(after, before);
  }
}

void SetRaw(const char* name, DWORD type, const std::string& bytes) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\minutrix");
  ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                           static_cast<DWORD>(bytes.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, RegistryWrite,
    testing::Values(WriteCase{"SameValueAgain",
                              [] {
                                SetRaw("minutrixdebug", REG_SZ, {"0\0", 2});
                              },
                              false},
                    WriteCase{"ExistingKey",
                              [] { RegCloseKey(Create(HKEY_LOCAL_MACHINE, "software")); }, false},
                    WriteCase{"SameBytesOtherType",
                              [] {
                                SetRaw("MinutrixDebug", REG_EXPAND_SZ, {"0\0", 2});
                              },
                              true},
                    WriteCase{"OtherBytes",
                              [] {
                                SetRaw("MinutrixDebug", REG_SZ, {"1\0", 2});
                              },
                              true},
                    WriteCase{"NewKey",
                              [] { RegCloseKey(Create(HKEY_LOCAL_MACHINE, "software\\New")); },
                              true}),
    [](const testing::TestParamInfo<WriteCase>& info) { return info.param.name; });

TEST(RegistryFormat, DamagedLinesAreNumberedAndToldWhenTheFileIsRead) {
  const std::string text =
      "MINUTRIX-REGISTRY 1\n"
      "[HKEY_LOCAL_MACHINE\\software]\n"
      "\"Good\"=dword:00000001\n"
      "\"Bad\"=dword:1\n"
      "\n"
      "[NOWHERE\\x]\n"
      "\"Orphan\"=sz:\"x\"\n";
  const auto tree = platform::registry::Parse(text);
  EXPECT_EQ(tree.damaged_lines, (std::vector<int>{4, 6, 7}));
  EXPECT_EQ(platform::registry::Parse("not a header\n").damaged_lines, std::vector<int>{1});
  EXPECT_TRUE(platform::registry::Parse("MINUTRIX-REGISTRY 1\n").damaged_lines.empty());

  ScratchMachine machine;
  test_support::WriteFile(machine.root() / "registry.txt", text);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "software", "Bad"), "<2>");
  const std::string told = testing::internal::GetCapturedStderr();
  EXPECT_NE(told.find("line 4 "), std::string::npos) << told;
  EXPECT_NE(told.find("line 7 "), std::string::npos) << told;
}

}  // namespace
