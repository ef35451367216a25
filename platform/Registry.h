#pragma once
// A small file-backed registry: keys addressed by backslash paths beginning with their
// root ("HKEY_CLASSES_ROOT\\CLSID\\{...}\\InprocServer32"), string and DWORD values, names
// matched without regard to case and kept as written. The file lives at $TARVO_REGISTRY,
// else ~/.config/tarvo/registry.ini.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Exception.h"

class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

struct RegValue {
  enum Kind { String, DWord };
  Kind kind = String;
  std::string str;  // bytes as written (paths are the file system's UTF-8)
  uint32_t dword = 0;
};

class Registry {
 public:
  explicit Registry(std::string path = DefaultPath());
  static std::string DefaultPath();
  const std::string& Path() const { return path_; }

  // A missing file is an empty registry. A corrupt file raises ERegistryException naming
  // the file and line, and leaves this registry as it was.
  void Load();
  // Written whole through WriteConfigFileAtomically: a crash leaves either the old or
  // the new file, its mode and a link to it stay. The folder is created when missing.
  void Save() const;

  bool KeyExists(std::string_view key) const;
  void CreateKey(std::string_view key);
  // Removes the key with its values and sub-keys; false when it did not exist.
  bool DeleteKey(std::string_view key);
  // Immediate sub-key names, in order of their names.
  std::vector<std::string> SubKeys(std::string_view key) const;
  std::vector<std::string> ValueNames(std::string_view key) const;

  // name "" is the key's default value.
  std::optional<RegValue> ReadValue(std::string_view key, std::string_view name) const;
  // A DWORD reads as its decimal text; def when missing.
  std::string ReadString(std::string_view key, std::string_view name, std::string def = {}) const;
  std::optional<uint32_t> ReadDWord(std::string_view key, std::string_view name) const;
  // Both create the key when missing. Key names may not be empty or hold control
  // characters (ERegistryException).
  void WriteString(std::string_view key, std::string_view name, std::string_view value);
  void WriteDWord(std::string_view key, std::string_view name, uint32_t value);
  bool DeleteValue(std::string_view key, std::string_view name);

  // The whole file as Save writes it.
  std::string Serialize() const;
  // Replaces the contents from file text; ERegistryException (and no change) on bad text.
  void Parse(std::string_view text, const std::string& origin = {});

 private:
  struct Value {
    std::string name;
    RegValue value;
  };
  struct Key {
    std::string path;                    // as written
    std::map<std::string, Value> values;  // by lower-case name
  };
  static std::string Normalize(std::string_view key);  // validates, lower-cases
  Key& Ensure(std::string_view key);

  std::string path_;
  std::map<std::string, Key> keys_;  // by lower-case full path
};

// Exclusive lock (flock on "<file>.lock") for a load-modify-save that other processes
// may race with, such as two registrations at once.
class RegistryLock {
 public:
  explicit RegistryLock(const std::string& registryPath);
  ~RegistryLock();
  RegistryLock(const RegistryLock&) = delete;
  RegistryLock& operator=(const RegistryLock&) = delete;

 private:
  int fd_ = -1;
};
