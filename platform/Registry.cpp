#include "platform/Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "core/SysUtils.h"
#include "platform/ConfigFile.h"

namespace {

constexpr std::string_view kHeader = "TarvoRegistry 1";
// Far above anything registration writes; a larger file is not ours.
constexpr std::uintmax_t kMaxFileSize = 16u << 20;

std::string ExpandRoot(std::string_view root) {
  std::string l = LowerCase(root);
  if (l == "hkcr" || l == "hkey_classes_root") return "HKEY_CLASSES_ROOT";
  if (l == "hkcu" || l == "hkey_current_user") return "HKEY_CURRENT_USER";
  if (l == "hklm" || l == "hkey_local_machine") return "HKEY_LOCAL_MACHINE";
  if (l == "hku" || l == "hkey_users") return "HKEY_USERS";
  throw ERegistryException("Invalid registry root: " + std::string(root));
}

// The key as written, with its root spelt out; raises on an invalid key.
std::string Canonical(std::string_view key) {
  if (key.empty()) throw ERegistryException("Invalid registry key: empty name");
  for (unsigned char c : key)
    if (c < 0x20 || c == 0x7F) throw ERegistryException("Invalid registry key: control character");
  size_t slash = key.find('\\');
  std::string out = ExpandRoot(key.substr(0, slash));
  if (slash == std::string_view::npos) return out;
  std::string_view rest = key.substr(slash + 1);
  size_t pos = 0;
  while (pos <= rest.size()) {
    size_t next = rest.find('\\', pos);
    std::string_view part = rest.substr(pos, next == std::string_view::npos ? std::string_view::npos : next - pos);
    if (part.empty()) throw ERegistryException("Invalid registry key: " + std::string(key));
    out += '\\';
    out += part;
    if (next == std::string_view::npos) break;
    pos = next + 1;
  }
  return out;
}

std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += Format("\\x%02X", c);
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted string at pos; false on a malformed one.
bool Unquote(std::string_view line, size_t& pos, std::string& out) {
  if (pos >= line.size() || line[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < line.size()) {
    char c = line[pos++];
    if (c == '"') return true;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (pos >= line.size()) return false;
    char e = line[pos++];
    switch (e) {
      case '\\': out += '\\'; break;
      case '"': out += '"'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'x': {
        if (pos + 2 > line.size()) return false;
        int h = HexDigit(line[pos]), l = HexDigit(line[pos + 1]);
        if (h < 0 || l < 0) return false;
        out += static_cast<char>(h * 16 + l);
        pos += 2;
        break;
      }
      default: return false;
    }
  }
  return false;
}

}  // namespace

Registry::Registry(std::string path) : path_(std::move(path)) {}

std::string Registry::DefaultPath() {
  if (const char* env = std::getenv("TARVO_REGISTRY"); env && *env) return env;
  // The XDG base directory rule: an absolute XDG_CONFIG_HOME wins over ~/.config.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') return std::string(xdg) + "/tarvo/registry.ini";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.config/tarvo/registry.ini";
}

std::string Registry::Normalize(std::string_view key) { return LowerCase(Canonical(key)); }

Registry::Key& Registry::Ensure(std::string_view key) {
  std::string canon = Canonical(key);
  // Parents exist whenever a child does, as in the desktop registry.
  size_t pos = 0;
  Key* last = nullptr;
  while (true) {
    size_t next = canon.find('\\', pos);
    std::string prefix = canon.substr(0, next);
    auto [it, inserted] = keys_.try_emplace(LowerCase(prefix));
    if (inserted) it->second.path = prefix;
    last = &it->second;
    if (next == std::string::npos) break;
    pos = next + 1;
  }
  return *last;
}

void Registry::Load() {
  const ConfigFileText file = ReadConfigFile(path_, kMaxFileSize);
  switch (file.status) {
    case ConfigFileText::Missing:
      keys_.clear();
      return;
    case ConfigFileText::NotRegular:
      throw ERegistryException("Registry file is not a regular file: " + path_);
    case ConfigFileText::TooLarge:
      throw ERegistryException("Registry file is corrupt (too large): " + path_);
    case ConfigFileText::Unreadable:
      throw ERegistryException("Cannot read registry file " + path_ + (file.error.empty() ? "" : ": " + file.error));
    case ConfigFileText::Read:
      break;
  }
  Parse(file.text, path_);
}

void Registry::Parse(std::string_view text, const std::string& origin) {
  std::map<std::string, Key> parsed;
  Key* current = nullptr;
  bool sawHeader = false;
  size_t lineNo = 0;
  size_t pos = 0;
  auto fail = [&](const char* why) {
    throw ERegistryException(Format("Registry file is corrupt: %s line %zu: %s",
                                    origin.empty() ? "<text>" : origin.c_str(), lineNo, why));
  };
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    std::string_view line = text.substr(pos, eol == std::string_view::npos ? std::string_view::npos : eol - pos);
    pos = eol == std::string_view::npos ? text.size() : eol + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\0') != std::string_view::npos) fail("binary data");
    if (line.empty() || line[0] == ';') continue;
    if (!sawHeader) {
      if (line != kHeader) fail("not a registry file");
      sawHeader = true;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']') fail("unterminated key name");
      std::string canon;
      try {
        canon = Canonical(line.substr(1, line.size() - 2));
      } catch (const ERegistryException& e) {
        fail(e.Message().c_str());
      }
      auto [it, inserted] = parsed.try_emplace(LowerCase(canon));
      if (inserted) it->second.path = canon;
      current = &it->second;
      continue;
    }
    if (!current) fail("value outside a key");
    size_t p = 0;
    std::string name;
    if (line[0] == '@') {
      p = 1;
    } else if (!Unquote(line, p, name)) {
      fail("bad value name");
    }
    if (p >= line.size() || line[p] != '=') fail("missing '='");
    ++p;
    RegValue v;
    std::string_view rest = line.substr(p);
    if (rest.substr(0, 6) == "dword:") {
      std::string_view hex = rest.substr(6);
      if (hex.empty() || hex.size() > 8) fail("bad DWORD");
      uint32_t d = 0;
      for (char c : hex) {
        int h = HexDigit(c);
        if (h < 0) fail("bad DWORD");
        d = d * 16 + static_cast<uint32_t>(h);
      }
      v.kind = RegValue::DWord;
      v.dword = d;
    } else {
      if (!Unquote(line, p, v.str) || p != line.size()) fail("bad string value");
    }
    current->values[LowerCase(name)] = Value{name, std::move(v)};
  }
  if (!sawHeader && !parsed.empty()) fail("not a registry file");
  // Keys written without their parents still have them.
  std::map<std::string, Key> complete = parsed;
  for (const auto& [lower, key] : parsed) {
    size_t cut = key.path.rfind('\\');
    while (cut != std::string::npos) {
      std::string parent = key.path.substr(0, cut);
      auto [it, inserted] = complete.try_emplace(LowerCase(parent));
      if (inserted) it->second.path = parent;
      cut = parent.rfind('\\');
    }
  }
  keys_.swap(complete);
}

std::string Registry::Serialize() const {
  std::ostringstream out;
  out << kHeader << "\n";
  for (const auto& [lower, key] : keys_) {
    out << "\n[" << key.path << "]\n";
    for (const auto& [lname, v] : key.values) {
      out << (v.name.empty() ? std::string("@") : Quote(v.name)) << '=';
      if (v.value.kind == RegValue::DWord) {
        out << Format("dword:%08x", v.value.dword);
      } else {
        out << Quote(v.value.str);
      }
      out << "\n";
    }
  }
  return out.str();
}

void Registry::Save() const {
  if (const int err = WriteConfigFileAtomically(path_, Serialize()))
    throw ERegistryException("Cannot write registry file " + path_ + ": " + std::strerror(err));
}

bool Registry::KeyExists(std::string_view key) const { return keys_.count(Normalize(key)) != 0; }

void Registry::CreateKey(std::string_view key) { Ensure(key); }

bool Registry::DeleteKey(std::string_view key) {
  std::string k = Normalize(key);
  auto it = keys_.find(k);
  if (it == keys_.end()) return false;
  std::string prefix = k + "\\";
  it = keys_.erase(it);
  while (it != keys_.end() && it->first.compare(0, prefix.size(), prefix) == 0) it = keys_.erase(it);
  return true;
}

std::vector<std::string> Registry::SubKeys(std::string_view key) const {
  std::vector<std::string> out;
  std::string prefix = Normalize(key) + "\\";
  for (auto it = keys_.lower_bound(prefix); it != keys_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
       ++it) {
    if (it->first.find('\\', prefix.size()) == std::string::npos) out.push_back(it->second.path.substr(prefix.size()));
  }
  return out;
}

std::vector<std::string> Registry::ValueNames(std::string_view key) const {
  std::vector<std::string> out;
  auto it = keys_.find(Normalize(key));
  if (it == keys_.end()) return out;
  for (const auto& [l, v] : it->second.values) out.push_back(v.name);
  return out;
}

std::optional<RegValue> Registry::ReadValue(std::string_view key, std::string_view name) const {
  auto it = keys_.find(Normalize(key));
  if (it == keys_.end()) return std::nullopt;
  auto v = it->second.values.find(LowerCase(name));
  if (v == it->second.values.end()) return std::nullopt;
  return v->second.value;
}

std::string Registry::ReadString(std::string_view key, std::string_view name, std::string def) const {
  auto v = ReadValue(key, name);
  if (!v) return def;
  return v->kind == RegValue::DWord ? std::to_string(v->dword) : v->str;
}

std::optional<uint32_t> Registry::ReadDWord(std::string_view key, std::string_view name) const {
  auto v = ReadValue(key, name);
  if (!v || v->kind != RegValue::DWord) return std::nullopt;
  return v->dword;
}

void Registry::WriteString(std::string_view key, std::string_view name, std::string_view value) {
  RegValue v;
  v.str = std::string(value);
  Ensure(key).values[LowerCase(name)] = Value{std::string(name), std::move(v)};
}

void Registry::WriteDWord(std::string_view key, std::string_view name, uint32_t value) {
  RegValue v;
  v.kind = RegValue::DWord;
  v.dword = value;
  Ensure(key).values[LowerCase(name)] = Value{std::string(name), std::move(v)};
}

bool Registry::DeleteValue(std::string_view key, std::string_view name) {
  auto it = keys_.find(Normalize(key));
  if (it == keys_.end()) return false;
  return it->second.values.erase(LowerCase(name)) != 0;
}

RegistryLock::RegistryLock(const std::string& registryPath) {
  CreateParentFolder(registryPath);
  fd_ = ::open((registryPath + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
  // Without a lock file (read-only folder) the save itself reports the failure.
  if (fd_ >= 0) {
    while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
}

RegistryLock::~RegistryLock() {
  if (fd_ >= 0) ::close(fd_);
}
