// Registry names that the file format cannot hold as they are, and writes into damaged files:
// nothing a hostile name or a damaged line holds may change or lose another value.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/registry_format.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::ScratchMachine;

HKEY CreateKey(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  EXPECT_EQ(
      RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  return key;
}

LONG SetText(HKEY root, const std::string& path, const std::string& name, const std::string& text) {
  HKEY key = CreateKey(root, path);
  if (key == nullptr) return ERROR_CANTWRITE;
  const LONG rc =
      RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
  return rc;
}

// The text of a REG_SZ value, or "<rc>" when it cannot be read.
std::string GetText(HKEY root, const std::string& path, const std::string& name) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) return "<" + std::to_string(rc) + ">";
  char data[512];
  DWORD size = sizeof data, type = 0;
  rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return "<" + std::to_string(rc) + ">";
  return std::string(data, size > 0 ? size - 1 : 0);
}

std::vector<fs::path> DamagedCopies(const ScratchMachine& machine) {
  std::vector<fs::path> copies;
  for (const auto& entry : fs::directory_iterator(machine.root())) {
    if (entry.path().filename().string().rfind("registry.txt.damaged-", 0) == 0)
      copies.push_back(entry.path());
  }
  return copies;
}

// Every name with every byte a C string can carry: the bytes 1 to 255.
std::string AllBytes() {
  std::string name;
  for (int c = 1; c < 256; ++c) {
    if (c != '\\') name.push_back(static_cast<char>(c));  // the key separator, not a name byte
  }
  return name;
}

TEST(RegistryNames, AKeyNameWithLineBreaksCannotRewriteAnotherKey) {
  ScratchMachine machine;
  ASSERT_EQ(SetText(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixPath", "c:\\Minutrix\\"),
            ERROR_SUCCESS);
  const std::string hostile =
      "software\\x]\n[HKEY_LOCAL_MACHINE\\software\\Minutrix]\n\"MinutrixPath\"=sz:\"d:/evil\"";
  ASSERT_EQ(SetText(HKEY_LOCAL_MACHINE, hostile, "v", "1"), ERROR_SUCCESS);
  EXPECT_EQ(GetText(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixPath"), "c:\\Minutrix\\");
  EXPECT_EQ(GetText(HKEY_LOCAL_MACHINE, hostile, "v"), "1");
  // And the file read afresh, as another process reads it.
  const auto tree = platform::registry::Parse(test_support::ReadFile(platform::RegistryFilePath()));
  EXPECT_TRUE(tree.damaged_lines.empty());
  const auto& product = tree.keys.at("HKEY_LOCAL_MACHINE\\SOFTWARE\\MINUTRIX");
  ASSERT_EQ(product.values.size(), 1u);
  EXPECT_EQ(product.values[0].data, std::string("c:\\Minutrix\\") + '\0');
  EXPECT_EQ(tree.keys.count(platform::UpperAscii("HKEY_LOCAL_MACHINE\\" + hostile)), 1u);
}

TEST(RegistryNames, EveryByteOfKeyAndValueNamesRoundTrips) {
  ScratchMachine machine;
  const std::string name = AllBytes();
  const std::string key = "software\\" + name;
  ASSERT_EQ(SetText(HKEY_LOCAL_MACHINE, key, name, "value"), ERROR_SUCCESS);
  const auto tree = platform::registry::Parse(test_support::ReadFile(platform::RegistryFilePath()));
  EXPECT_TRUE(tree.damaged_lines.empty());
  bool found = false;
  for (const auto& [folded, k] : tree.keys) {
    if (k.path == "HKEY_LOCAL_MACHINE\\" + key) {
      found = true;
      ASSERT_EQ(k.values.size(), 1u);
      EXPECT_EQ(k.values[0].name, name);
    }
  }
  EXPECT_TRUE(found) << "the key's name changed on its way through the file";

  HKEY parent = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software", 0, KEY_READ, &parent), ERROR_SUCCESS);
  char child[512];
  DWORD size = sizeof child;
  ASSERT_EQ(RegEnumKeyExA(parent, 0, child, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(child, size), name);
  RegCloseKey(parent);
}

TEST(RegistryNames, HostileNamesThroughTheRegTool) {
  ScratchMachine machine;
  machine.Reg(
      {"add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d", "c:\\Minutrix\\", "/f"});
  machine.Reg({"add", "HKLM\\software\\a]\n[HKEY_LOCAL_MACHINE\\software\\Minutrix]", "/v",
               "MinutrixPath\"=sz:\"x\n\"MinutrixPath", "/d", "d:\\evil\n", "/f"});
  EXPECT_EQ(GetText(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixPath"), "c:\\Minutrix\\");
}

// A registry file as an administrator's machine has it, with damage at the given lines.
constexpr const char* kSample =
    "MINUTRIX-REGISTRY 1\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\software\\Minutrix]\n"
    "\"MinutrixPath\"=sz:\"c:\\\\Minutrix\\\\\"\n"
    "\"MinutrixDebug\"=sz:\"0\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\W3SVC\\Filters]\n"
    "\"FilterLoadOrder\"=sz:\"Minutrix,Other\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\W3SVC\\Filters\\Minutrix]\n"
    "\"FilterPath\"=sz:\"c:\\\\Minutrix\\\\Minutrix.dll\"\n"
    "\"Count\"=dword:00000010\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\InetStp]\n"
    "\"PathWWWRoot\"=sz:\"C:\\\\Inetpub\\\\wwwroot\"\n"
    "\"Blob\"=hex(3):00,ff\n";

// The readable values of a file: key path and value name to type and bytes.
std::map<std::string, std::string> Readable(const std::string& text) {
  std::map<std::string, std::string> out;
  for (const auto& [folded, key] : platform::registry::Parse(text).keys) {
    for (const auto& value : key.values)
      out[folded + "|" + value.name] = std::to_string(value.type) + ":" + value.data;
  }
  return out;
}

std::set<std::string> UnreadableLines(const std::string& text) {
  std::set<std::string> lines;
  const auto tree = platform::registry::Parse(text);
  std::vector<std::string> all;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    all.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  for (int number : tree.damaged_lines) {
    const std::string& line = all.at(number - 1);
    if (!line.empty() && line != "MINUTRIX-REGISTRY 1" && line[0] != ';' && number > 1)
      lines.insert(line);
  }
  return lines;
}

TEST(RegistryDamage, AWriteIntoADamagedFileKeepsEveryLineItCouldNotRead) {
  ScratchMachine machine;
  std::string text = kSample;
  text.insert(text.find("\"MinutrixDebug\""), "\"Broken=sz:\"half\n");
  text.insert(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft"),
              "[HKEY_NOWHERE\\x]\n\"y\"=sz:\"z\"\n");
  test_support::WriteFile(platform::RegistryFilePath(), text);
  ASSERT_EQ(UnreadableLines(text).size(), 3u);

  ASSERT_EQ(SetText(HKEY_LOCAL_MACHINE, "software\\Minutrix", "Added", "yes"), ERROR_SUCCESS);
  const std::string after = test_support::ReadFile(platform::RegistryFilePath());
  for (const auto& line : UnreadableLines(text))
    EXPECT_NE(after.find(line + "\n"), std::string::npos) << "lost: " << line << "\n" << after;
  // The broken value still stands between the two values it stood between.
  EXPECT_LT(after.find("\"MinutrixPath\""), after.find("\"Broken=sz:"));
  EXPECT_LT(after.find("\"Broken=sz:"), after.find("\"MinutrixDebug\""));
  auto expected = Readable(text);
  expected["HKEY_LOCAL_MACHINE\\SOFTWARE\\MINUTRIX|Added"] = "1:yes" + std::string(1, '\0');
  EXPECT_EQ(Readable(after), expected);
  ASSERT_EQ(DamagedCopies(machine).size(), 1u);
  EXPECT_EQ(test_support::ReadFile(DamagedCopies(machine)[0]), text);
}

TEST(RegistryDamage, SingleByteFlipsNeverLoseAnUnrelatedValue) {
  ScratchMachine machine;
  const std::string sample = kSample;
  const char replacements[] = {'\n', '"', '[', ']', '\\', 'x', '\0', '\x80'};
  int flips = 0;
  for (size_t pos = 0; pos < sample.size(); pos += 2) {
    std::string damaged = sample;
    damaged[pos] = replacements[pos % sizeof replacements];
    if (damaged == sample) continue;
    ++flips;
    fs::remove(platform::RegistryFilePath());
    test_support::WriteFile(platform::RegistryFilePath(), damaged);
    auto expected = Readable(damaged);
    const auto unreadable = UnreadableLines(damaged);
    ASSERT_EQ(SetText(HKEY_LOCAL_MACHINE, "software\\Fresh", "New", "1"), ERROR_SUCCESS)
        << "flip at " << pos;
    const std::string after = test_support::ReadFile(platform::RegistryFilePath());
    expected["HKEY_LOCAL_MACHINE\\SOFTWARE\\FRESH|New"] = "1:1" + std::string(1, '\0');
    EXPECT_EQ(Readable(after), expected) << "flip at " << pos << "\n" << damaged;
    for (const auto& line : unreadable) {
      EXPECT_NE(after.find(line), std::string::npos) << "flip at " << pos << " lost " << line;
    }
  }
  EXPECT_GT(flips, 150);
}

TEST(RegistryDamage, CopiesOfTheSameSecondNeverOverwriteEachOther) {
  ScratchMachine machine;
  std::set<std::string> texts;
  for (int i = 0; i < 3; ++i) {
    const std::string damaged = std::string(kSample) + "junk line " + std::to_string(i) + "\n";
    test_support::WriteFile(platform::RegistryFilePath(), damaged);
    texts.insert(damaged);
    ASSERT_EQ(SetText(HKEY_LOCAL_MACHINE, "software\\Fresh", "N", std::to_string(i)),
              ERROR_SUCCESS);
  }
  std::set<std::string> kept;
  for (const auto& copy : DamagedCopies(machine)) kept.insert(test_support::ReadFile(copy));
  // Each round's first write keeps the file it found; its second finds the file as it wrote it.
  EXPECT_EQ(kept, texts);
  for (const auto& copy : DamagedCopies(machine)) {
    EXPECT_NE(test_support::ReadFile(copy).find("junk line"), std::string::npos);
  }
}

TEST(RegistryDamage, TheRegToolSaysTheFileWasDamagedAndWhereTheCopyIs) {
  ScratchMachine machine;
  test_support::WriteFile(platform::RegistryFilePath(), std::string(kSample) + "garbage\n");
  const auto result =
      test_support::Run({(test_support::kBuildDir / "minutrix-machine").string(), "reg", "add",
                         "HKLM\\software\\Minutrix", "/v", "MinutrixDebug", "/d", "1", "/f"},
                        {{"MINUTRIX_ROOT", machine.root().string()}});
  ASSERT_EQ(result.exit_code, 0) << result.output;
  EXPECT_NE(result.output.find("was damaged: line 17 could not be read"), std::string::npos)
      << result.output;
  ASSERT_EQ(DamagedCopies(machine).size(), 1u);
  EXPECT_NE(result.output.find(DamagedCopies(machine)[0].string()), std::string::npos)
      << result.output;
  EXPECT_NE(test_support::ReadFile(platform::RegistryFilePath()).find("garbage\n"),
            std::string::npos);
}

}  // namespace
