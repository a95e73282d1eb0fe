// The registry file's text format: parse and format, with the line numbers of damaged lines.
#include "platform/registry_format.h"

#include <cstdio>
#include <sstream>

#include "platform/machine.h"

namespace platform::registry {
namespace {

constexpr const char* kHeader = "MINUTRIX-REGISTRY 1";

}  // namespace

bool IsHive(std::string_view name) {
  for (const char* hive : kHives) {
    if (EqualsNoCase(name, hive)) return true;
  }
  return false;
}

Value* Key::Find(std::string_view name) {
  for (Value& v : values) {
    if (EqualsNoCase(v.name, name)) return &v;
  }
  return nullptr;
}

void AddKeyWithParents(Tree& tree, const std::string& path) {
  std::string prefix;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    prefix = path.substr(0, end);
    const std::string folded = UpperAscii(prefix);
    if (!tree.keys.count(folded)) tree.keys[folded] = Key{prefix, {}, {}};
    start = end + 1;
  }
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted, escaped text at `pos`; leaves `pos` after the closing quote.
bool ParseQuoted(const std::string& line, size_t& pos, std::string& out) {
  if (pos >= line.size() || line[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < line.size()) {
    char c = line[pos++];
    if (c == '"') return true;
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (pos >= line.size()) return false;
    char e = line[pos++];
    switch (e) {
      case '\\':
        out.push_back('\\');
        break;
      case '"':
        out.push_back('"');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'x': {
        if (pos + 2 > line.size()) return false;
        int hi = HexDigit(line[pos]), lo = HexDigit(line[pos + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<char>(hi * 16 + lo));
        pos += 2;
        break;
      }
      default:
        return false;
    }
  }
  return false;
}

std::string Quote(std::string_view text) {
  static const char* kHex = "0123456789abcdef";
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          out += "\\x";
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 15]);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

bool ParseValueLine(const std::string& line, Value& value) {
  size_t pos = 0;
  if (line[0] == '@') {
    value.name.clear();
    pos = 1;
  } else if (!ParseQuoted(line, pos, value.name)) {
    return false;
  }
  if (pos >= line.size() || line[pos] != '=') return false;
  const std::string rest = line.substr(pos + 1);
  auto text_form = [&](std::string_view prefix, DWORD type) {
    size_t p = prefix.size();
    std::string text;
    if (!ParseQuoted(rest, p, text) || p != rest.size()) return false;
    value.type = type;
    value.data = text + '\0';
    return true;
  };
  if (rest.starts_with("sz:")) return text_form("sz:", REG_SZ);
  if (rest.starts_with("expand_sz:")) return text_form("expand_sz:", REG_EXPAND_SZ);
  if (rest.starts_with("dword:")) {
    const std::string digits = rest.substr(6);
    if (digits.size() != 8) return false;
    DWORD number = 0;
    for (char c : digits) {
      int d = HexDigit(c);
      if (d < 0) return false;
      number = number * 16 + static_cast<DWORD>(d);
    }
    value.type = REG_DWORD;
    value.data.assign(4, '\0');
    for (int i = 0; i < 4; ++i) value.data[i] = static_cast<char>((number >> (8 * i)) & 0xff);
    return true;
  }
  if (rest.starts_with("hex")) {
    size_t p = 3;
    DWORD type = REG_BINARY;
    if (p < rest.size() && rest[p] == '(') {
      size_t close = rest.find(')', p);
      if (close == std::string::npos || close == p + 1) return false;
      type = 0;
      for (size_t i = p + 1; i < close; ++i) {
        int d = HexDigit(rest[i]);
        if (d < 0 || type > 0x0fffffff) return false;
        type = type * 16 + static_cast<DWORD>(d);
      }
      p = close + 1;
    }
    if (p >= rest.size() || rest[p] != ':') return false;
    ++p;
    std::string bytes;
    while (p < rest.size()) {
      if (p + 2 > rest.size()) return false;
      int hi = HexDigit(rest[p]), lo = HexDigit(rest[p + 1]);
      if (hi < 0 || lo < 0) return false;
      bytes.push_back(static_cast<char>(hi * 16 + lo));
      p += 2;
      if (p < rest.size()) {
        if (rest[p] != ',') return false;
        ++p;
        if (p == rest.size()) return false;
      }
    }
    value.type = type;
    value.data = std::move(bytes);
    return true;
  }
  return false;
}

std::string FormatValue(const Value& value) {
  std::string out = value.name.empty() ? "@" : Quote(value.name);
  out += '=';
  const bool text_type = value.type == REG_SZ || value.type == REG_EXPAND_SZ;
  if (text_type && !value.data.empty() && value.data.back() == '\0' &&
      value.data.find('\0') == value.data.size() - 1) {
    out += value.type == REG_SZ ? "sz:" : "expand_sz:";
    out += Quote(std::string_view(value.data).substr(0, value.data.size() - 1));
    return out;
  }
  if (value.type == REG_DWORD && value.data.size() == 4) {
    DWORD number = 0;
    for (int i = 3; i >= 0; --i) number = number * 256 + static_cast<unsigned char>(value.data[i]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", number);
    return out + buf;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "hex(%x):", value.type);
  out += buf;
  for (size_t i = 0; i < value.data.size(); ++i) {
    std::snprintf(buf, sizeof buf, i == 0 ? "%02x" : ",%02x",
                  static_cast<unsigned char>(value.data[i]));
    out += buf;
  }
  return out;
}

}  // namespace

namespace {

// Key paths are written bare unless a byte would break the line structure.
bool NeedsQuotedPath(std::string_view path) {
  for (unsigned char c : path) {
    if (c < 0x20 || c == 0x7f) return true;
  }
  return !path.empty() && path.front() == '"';
}

bool ValidKeyPath(const std::string& path) {
  if (path.empty()) return false;
  const std::string hive = path.substr(0, path.find('\\'));
  return IsHive(hive) && path.find("\\\\") == std::string::npos && path.back() != '\\';
}

}  // namespace

Tree Parse(const std::string& text) {
  Tree tree;
  tree.text = text;
  std::istringstream in(text);
  std::string line;
  Key* current = nullptr;
  Key* last_section = nullptr;  // where unreadable lines after a bad key line stand
  int number = 0;
  auto note = [&] {
    if (tree.damaged_lines.empty() || tree.damaged_lines.back() != number)
      tree.damaged_lines.push_back(number);
  };
  auto damaged = [&](const std::string& raw) {
    note();
    if (last_section == nullptr) {
      tree.preamble.push_back(raw);
    } else {
      last_section->raw_lines.push_back(RawLine{last_section->values.size(), raw});
    }
  };
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1) {
      if (line == kHeader) continue;
      note();  // a file without its header is read all the same
    }
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      current = nullptr;
      std::string path;
      bool ok = line.size() >= 3 && line.back() == ']';
      if (ok && line[1] == '"') {
        size_t pos = 1;
        ok = ParseQuoted(line, pos, path) && pos == line.size() - 1;
      } else if (ok) {
        path = line.substr(1, line.size() - 2);
      }
      if (!ok || !ValidKeyPath(path)) {
        damaged(line);
        continue;
      }
      AddKeyWithParents(tree, path);
      current = &tree.keys[UpperAscii(path)];
      last_section = current;
      continue;
    }
    Value value;
    if (current == nullptr || !ParseValueLine(line, value)) {
      damaged(line);
      continue;
    }
    if (Value* existing = current->Find(value.name)) {
      *existing = std::move(value);
    } else {
      current->values.push_back(std::move(value));
    }
  }
  return tree;
}

std::string Format(const Tree& tree) {
  std::string out = std::string(kHeader) + "\n";
  for (const std::string& raw : tree.preamble) out += raw + "\n";
  for (const auto& [folded, key] : tree.keys) {
    if (IsHive(key.path) && key.values.empty() && key.raw_lines.empty()) continue;
    out += "\n[" + (NeedsQuotedPath(key.path) ? Quote(key.path) : key.path) + "]\n";
    // A kept line that opens a (broken) key ends the section for a reader, so it and what came
    // after it go behind the values: a value added since must stay readable.
    auto raw = key.raw_lines.begin();
    for (size_t i = 0; i < key.values.size(); ++i) {
      for (; raw != key.raw_lines.end() && raw->before <= i && raw->text.front() != '['; ++raw)
        out += raw->text + "\n";
      out += FormatValue(key.values[i]) + "\n";
    }
    for (; raw != key.raw_lines.end(); ++raw) out += raw->text + "\n";
  }
  return out;
}

}  // namespace platform::registry
