// An in-memory registry that behaves like the platform's (names without regard to case, a key
// with subkeys cannot be deleted on its own) and can fail on demand; for the registrar's tests and
// its fuzz target.
#pragma once

#include <cctype>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "component/registrar.h"

namespace norvisk_test {

using norvisk::Registry;

constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070002u);

struct NoCaseLess {
  bool operator()(const std::string& a, const std::string& b) const {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
      const int x = std::tolower(static_cast<unsigned char>(a[i]));
      const int y = std::tolower(static_cast<unsigned char>(b[i]));
      if (x != y) return x < y;
    }
    return a.size() < b.size();
  }
};

inline std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  if (path.empty()) return parts;
  std::string part;
  std::istringstream in(path);
  while (std::getline(in, part, '\\')) parts.push_back(part);
  if (path.back() == '\\') parts.push_back("");
  return parts;
}

class MemoryRegistry : public Registry {
 public:
  struct Key {
    std::map<std::string, Key, NoCaseLess> subkeys;
    std::map<std::string, std::string, NoCaseLess> values;  // "" is the default value
  };

  // Every call, in order ("CreateKey HKCR\a\b", ...).
  std::vector<std::string> calls;
  // The write (CreateKey, SetString, Delete*) with this 1-based number fails without effect.
  int fail_write = 0;
  int writes = 0;

  HRESULT CreateKey(const std::string& root, const std::string& path) override {
    calls.push_back("CreateKey " + root + "\\" + path);
    if (FailThisWrite()) return kAccessDenied;
    Key* key = &roots_[root];
    for (const std::string& name : SplitPath(path)) {
      if (name.empty()) return static_cast<HRESULT>(0x80070057u);
      key = &key->subkeys[name];
    }
    return S_OK;
  }
  bool KeyExists(const std::string& root, const std::string& path) override {
    calls.push_back("KeyExists " + root + "\\" + path);
    return Find(root, path) != nullptr;
  }
  HRESULT SetString(const std::string& root, const std::string& path, const std::string& name,
                    const std::string& value) override {
    calls.push_back("SetString " + root + "\\" + path + "|" + name + "=" + value);
    if (FailThisWrite()) return kAccessDenied;
    Key* key = Find(root, path);
    if (key == nullptr) return kNotFound;
    key->values[name] = value;
    return S_OK;
  }
  HRESULT DeleteValue(const std::string& root, const std::string& path,
                      const std::string& name) override {
    calls.push_back("DeleteValue " + root + "\\" + path + "|" + name);
    if (FailThisWrite()) return kAccessDenied;
    Key* key = Find(root, path);
    if (key == nullptr || key->values.erase(name) == 0) return S_FALSE;
    return S_OK;
  }
  HRESULT DeleteKey(const std::string& root, const std::string& path) override {
    calls.push_back("DeleteKey " + root + "\\" + path);
    if (FailThisWrite()) return kAccessDenied;
    return Delete(root, path, false);
  }
  HRESULT DeleteTree(const std::string& root, const std::string& path) override {
    calls.push_back("DeleteTree " + root + "\\" + path);
    if (FailThisWrite()) return kAccessDenied;
    return Delete(root, path, true);
  }
  bool IsEmpty(const std::string& root, const std::string& path) override {
    calls.push_back("IsEmpty " + root + "\\" + path);
    const Key* key = Find(root, path);
    if (key == nullptr) return true;
    if (!key->subkeys.empty()) return false;
    for (const auto& value : key->values)
      if (!value.first.empty()) return false;
    return true;
  }

  // Test-side setup, not recorded.
  void Put(const std::string& root, const std::string& path) {
    Key* key = &roots_[root];
    for (const std::string& name : SplitPath(path)) key = &key->subkeys[name];
  }
  void PutValue(const std::string& root, const std::string& path, const std::string& name,
                const std::string& value) {
    Put(root, path);
    Find(root, path)->values[name] = value;
  }

  // The whole registry as lines: "ROOT\path" for each key and "ROOT\path|name=value" for each
  // value ('@' naming the default value).
  std::set<std::string> Entries() const {
    std::set<std::string> lines;
    for (const auto& [root, key] : roots_) Collect(key, root, lines);
    return lines;
  }
  int WriteCount() const {
    int count = 0;
    for (const std::string& call : calls)
      if (call.rfind("KeyExists", 0) != 0 && call.rfind("IsEmpty", 0) != 0) ++count;
    return count;
  }

 private:
  bool FailThisWrite() { return ++writes == fail_write; }

  Key* Find(const std::string& root, const std::string& path) {
    auto it = roots_.find(root);
    if (it == roots_.end()) return path.empty() ? &roots_[root] : nullptr;
    Key* key = &it->second;
    for (const std::string& name : SplitPath(path)) {
      auto sub = key->subkeys.find(name);
      if (sub == key->subkeys.end()) return nullptr;
      key = &sub->second;
    }
    return key;
  }

  HRESULT Delete(const std::string& root, const std::string& path, bool tree) {
    std::vector<std::string> parts = SplitPath(path);
    if (parts.empty()) return static_cast<HRESULT>(0x80070057u);
    const std::string name = parts.back();
    parts.pop_back();
    std::string parent_path;
    for (const std::string& part : parts) parent_path += (parent_path.empty() ? "" : "\\") + part;
    Key* parent = Find(root, parent_path);
    if (parent == nullptr) return S_FALSE;
    auto it = parent->subkeys.find(name);
    if (it == parent->subkeys.end()) return S_FALSE;
    if (!tree && !it->second.subkeys.empty()) return kAccessDenied;
    parent->subkeys.erase(it);
    return S_OK;
  }

  static void Collect(const Key& key, const std::string& path, std::set<std::string>& lines) {
    if (path.find('\\') != std::string::npos) lines.insert(path);  // not the roots themselves
    for (const auto& [name, value] : key.values)
      lines.insert(path + "|" + (name.empty() ? "@" : name) + "=" + value);
    for (const auto& [name, sub] : key.subkeys) Collect(sub, path + "\\" + name, lines);
  }

  std::map<std::string, Key> roots_;
};

}  // namespace norvisk_test
