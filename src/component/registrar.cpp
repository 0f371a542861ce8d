// The registration-script interpreter. The whole script is read into a tree first, so that a
// script with a syntax error writes nothing; then each root block is applied in turn.
#include "component/registrar.h"

#include <cctype>
#include <cstddef>
#include <new>
#include <optional>

#include "objects/boundary.h"

namespace norvisk {
namespace {

// What a registry reports for a key or value that is not there (the platform's
// ERROR_FILE_NOT_FOUND and ERROR_PATH_NOT_FOUND as HRESULTs): fine when removing.
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070002u);
constexpr HRESULT kPathNotFound = static_cast<HRESULT>(0x80070003u);

// Deeper than any real script; keeps hostile input from exhausting the stack.
constexpr int kMaxDepth = 64;

bool Failed(HRESULT hr) { return hr < 0; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

struct Token {
  enum class Type { kWord, kQuoted, kOpen, kClose, kEquals, kEnd };
  Type type;
  std::string text;
};

bool IsBlank(char c) {
  // NUL counts as blank: scripts kept as resources may carry a terminator.
  return c == '\0' || std::isspace(static_cast<unsigned char>(c));
}

bool EndsWord(char c) { return IsBlank(c) || c == '=' || c == '\'' || c == '{' || c == '}'; }

// The length of a name such as "{GUID}" at the start of text: a '{', name characters, a '}'.
std::size_t BraceNameLength(std::string_view text) {
  std::size_t i = 1;
  while (i < text.size() && !EndsWord(text[i])) ++i;
  return (i > 1 && i < text.size() && text[i] == '}') ? i + 1 : 0;
}

// Splits the script into tokens. Bare words end at white space, '=', a quote or a brace; a brace
// is a bracket unless it starts a "{name}" without any of those inside.
bool Tokenize(std::string_view text, std::vector<Token>& tokens) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // UTF-8 byte order mark
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (IsBlank(c)) {
      ++i;
    } else if (c == '=') {
      tokens.push_back({Token::Type::kEquals, "="});
      ++i;
    } else if (c == '\'') {
      std::string quoted;
      ++i;
      bool closed = false;
      while (i < text.size()) {
        if (text[i] == '\0') return false;  // the registry's strings end there
        if (text[i] == '\'') {
          if (i + 1 < text.size() && text[i + 1] == '\'') {
            quoted += '\'';
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        quoted += text[i++];
      }
      if (!closed) return false;
      tokens.push_back({Token::Type::kQuoted, std::move(quoted)});
    } else if (c == '{' && BraceNameLength(text.substr(i)) > 0) {
      const std::size_t length = BraceNameLength(text.substr(i));
      tokens.push_back({Token::Type::kWord, std::string(text.substr(i, length))});
      i += length;
    } else if (c == '{' || c == '}') {
      tokens.push_back({c == '{' ? Token::Type::kOpen : Token::Type::kClose, std::string(1, c)});
      ++i;
    } else {
      const std::size_t start = i;
      while (i < text.size() && !EndsWord(text[i])) ++i;
      tokens.push_back({Token::Type::kWord, std::string(text.substr(start, i - start))});
    }
  }
  tokens.push_back({Token::Type::kEnd, {}});
  return true;
}

// Replaces %NAME% from the replacements (names compared without regard to case); %% is one %.
std::optional<std::string> Expand(const std::string& text, const Replacements& replacements) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '%') {
      out += text[i++];
      continue;
    }
    const std::size_t end = text.find('%', i + 1);
    if (end == std::string::npos) return std::nullopt;
    const std::string_view name = std::string_view(text).substr(i + 1, end - i - 1);
    if (name.empty()) {
      out += '%';
    } else {
      const std::pair<std::string, std::string>* found = nullptr;
      for (const auto& replacement : replacements) {
        if (EqualsNoCase(replacement.first, name)) {
          found = &replacement;
          break;
        }
      }
      if (found == nullptr) return std::nullopt;
      out += found->second;
    }
    i = end + 1;
  }
  return out;
}

struct Entry {
  enum class Kind { kKey, kValue };
  enum class Flag { kNone, kNoRemove, kForceRemove };
  Kind kind = Kind::kKey;
  Flag flag = Flag::kNone;
  std::string name;
  bool has_value = false;  // for keys: whether the script gives the default value
  std::string value;
  std::vector<Entry> children;
};

struct RootBlock {
  std::string root;
  std::vector<Entry> entries;
};

struct RootNames {
  RegistryRoot root;
  std::string_view shortName;
  std::string_view longName;
};
constexpr RootNames kRoots[] = {
    {RegistryRoot::ClassesRoot, "HKCR", "HKEY_CLASSES_ROOT"},
    {RegistryRoot::CurrentUser, "HKCU", "HKEY_CURRENT_USER"},
    {RegistryRoot::LocalMachine, "HKLM", "HKEY_LOCAL_MACHINE"},
    {RegistryRoot::Users, "HKU", "HKEY_USERS"},
    {RegistryRoot::CurrentConfig, "HKCC", "HKEY_CURRENT_CONFIG"},
};

// The short names the Registry implementations take.
std::optional<std::string> RootName(std::string_view word) {
  const std::optional<RegistryRoot> root = FindRegistryRoot(word);
  if (!root) return std::nullopt;
  return std::string(ShortName(*root));
}

class Parser {
 public:
  Parser(const std::vector<Token>& tokens, const Replacements& replacements)
      : tokens_(tokens), replacements_(replacements) {}

  bool ParseScript(std::vector<RootBlock>& blocks) {
    while (Peek().type != Token::Type::kEnd) {
      const Token& word = Next();
      if (word.type != Token::Type::kWord) return false;
      std::optional<std::string> root = RootName(word.text);
      if (!root) return false;
      RootBlock block;
      block.root = std::move(*root);
      if (Next().type != Token::Type::kOpen) return false;
      if (!ParseEntries(block.entries, 0)) return false;
      blocks.push_back(std::move(block));
    }
    return true;
  }

 private:
  const Token& Peek() const { return tokens_[pos_]; }
  const Token& Next() {
    const Token& token = tokens_[pos_];
    if (token.type != Token::Type::kEnd) ++pos_;
    return token;
  }

  static bool IsKeyword(const Token& token, std::string_view keyword) {
    return token.type == Token::Type::kWord && EqualsNoCase(token.text, keyword);
  }
  static bool IsReserved(const Token& token) {
    return IsKeyword(token, "val") || IsKeyword(token, "NoRemove") ||
           IsKeyword(token, "ForceRemove");
  }

  // A bare word that is not a keyword, or a quoted name; with replacements made.
  bool ParseName(std::string& name) {
    const Token& token = Next();
    if (token.type != Token::Type::kQuoted &&
        (token.type != Token::Type::kWord || IsReserved(token)))
      return false;
    std::optional<std::string> expanded = Expand(token.text, replacements_);
    if (!expanded) return false;
    name = std::move(*expanded);
    return true;
  }

  // "= s 'text'", the '=' already taken. Only string values are known.
  bool ParseValue(std::string& value) {
    const Token& type = Next();
    if (!IsKeyword(type, "s")) return false;
    const Token& text = Next();
    if (text.type != Token::Type::kQuoted) return false;
    std::optional<std::string> expanded = Expand(text.text, replacements_);
    if (!expanded) return false;
    value = std::move(*expanded);
    return true;
  }

  // The entries of a block up to and including its closing brace. Values directly under a root
  // are refused: a script has no business writing values onto a predefined key.
  bool ParseEntries(std::vector<Entry>& entries, int depth) {
    if (depth > kMaxDepth) return false;
    for (;;) {
      const Token& token = Peek();
      if (token.type == Token::Type::kClose) {
        Next();
        return true;
      }
      if (token.type == Token::Type::kEnd) return false;
      Entry entry;
      if (IsKeyword(token, "val")) {
        Next();
        if (depth == 0) return false;
        entry.kind = Entry::Kind::kValue;
        if (!ParseName(entry.name)) return false;
        if (Next().type != Token::Type::kEquals) return false;
        if (!ParseValue(entry.value)) return false;
        entries.push_back(std::move(entry));
        continue;
      }
      if (IsKeyword(token, "NoRemove")) {
        entry.flag = Entry::Flag::kNoRemove;
        Next();
      } else if (IsKeyword(token, "ForceRemove")) {
        entry.flag = Entry::Flag::kForceRemove;
        Next();
      }
      if (!ParseName(entry.name)) return false;
      // A key name is one level of the path: empty or '\' would address another key.
      if (entry.name.empty() || entry.name.find('\\') != std::string::npos) return false;
      if (Peek().type == Token::Type::kEquals) {
        Next();
        if (!ParseValue(entry.value)) return false;
        entry.has_value = true;
      }
      if (Peek().type == Token::Type::kOpen) {
        Next();
        if (!ParseEntries(entry.children, depth + 1)) return false;
      }
      entries.push_back(std::move(entry));
    }
  }

  const std::vector<Token>& tokens_;
  const Replacements& replacements_;
  std::size_t pos_ = 0;
};

std::string Join(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + '\\' + name;
}

class Applier {
 public:
  Applier(Registry& registry, const std::string& root) : registry_(registry), root_(root) {}

  // Stops at the first failure and returns it.
  HRESULT Register(const std::vector<Entry>& entries, const std::string& parent) {
    for (const Entry& entry : entries) {
      HRESULT hr = S_OK;
      if (entry.kind == Entry::Kind::kValue) {
        hr = registry_.SetString(root_, parent, entry.name, entry.value);
        if (Failed(hr)) return hr;
        continue;
      }
      const std::string path = Join(parent, entry.name);
      if (entry.flag == Entry::Flag::kForceRemove && registry_.KeyExists(root_, path)) {
        hr = registry_.DeleteTree(root_, path);
        if (Failed(hr)) return hr;
      }
      hr = registry_.CreateKey(root_, path);
      if (Failed(hr)) return hr;
      if (entry.has_value) {
        hr = registry_.SetString(root_, path, "", entry.value);
        if (Failed(hr)) return hr;
      }
      hr = Register(entry.children, path);
      if (Failed(hr)) return hr;
    }
    return S_OK;
  }

  // Removes as much as it can (it also undoes failed registrations); returns the first failure.
  // Whatever is already gone is not a failure.
  HRESULT Unregister(const std::vector<Entry>& entries, const std::string& parent) {
    HRESULT first = S_OK;
    auto note = [&first](HRESULT hr) {
      if (Failed(hr) && hr != kNotFound && hr != kPathNotFound && !Failed(first)) first = hr;
    };
    for (const Entry& entry : entries) {
      if (entry.kind == Entry::Kind::kValue) {
        note(registry_.DeleteValue(root_, parent, entry.name));
        continue;
      }
      const std::string path = Join(parent, entry.name);
      if (!registry_.KeyExists(root_, path)) continue;
      switch (entry.flag) {
        case Entry::Flag::kForceRemove: note(registry_.DeleteTree(root_, path)); break;
        case Entry::Flag::kNoRemove: note(Unregister(entry.children, path)); break;
        case Entry::Flag::kNone:
          note(Unregister(entry.children, path));
          // Kept while anything the script does not name is left in it.
          if (registry_.IsEmpty(root_, path)) note(registry_.DeleteKey(root_, path));
          break;
      }
    }
    return first;
  }

 private:
  Registry& registry_;
  const std::string& root_;
};

// Unregisters a block's entries when it goes, unless `done` was set. The undoing itself may run
// out of memory too; it then stops, and what it could not take back stays.
struct UndoUnlessDone {
  UndoUnlessDone(Applier& of, const std::vector<Entry>& what) : applier(of), entries(what) {}
  ~UndoUnlessDone() {
    if (!done) Guarded([&] { return applier.Unregister(entries, ""); });
  }
  UndoUnlessDone(const UndoUnlessDone&) = delete;
  UndoUnlessDone& operator=(const UndoUnlessDone&) = delete;
  Applier& applier;
  const std::vector<Entry>& entries;
  bool done = false;
};

HRESULT Run(std::string_view script, bool registering, const Replacements& replacements,
            Registry& registry) {
  std::vector<Token> tokens;
  if (!Tokenize(script, tokens)) return kRegistrarScriptError;
  std::vector<RootBlock> blocks;
  Parser parser(tokens, replacements);
  if (!parser.ParseScript(blocks)) return kRegistrarScriptError;

  HRESULT first = S_OK;
  for (const RootBlock& block : blocks) {
    Applier applier(registry, block.root);
    if (registering) {
      // Taken back unless it runs to its end, also when memory running out cuts it short.
      UndoUnlessDone undo(applier, block.entries);
      const HRESULT hr = applier.Register(block.entries, "");
      if (Failed(hr)) return hr;
      undo.done = true;
    } else {
      const HRESULT hr = applier.Unregister(block.entries, "");
      if (Failed(hr) && !Failed(first)) first = hr;
    }
  }
  return first;
}

}  // namespace

std::optional<RegistryRoot> FindRegistryRoot(std::string_view name) {
  for (const RootNames& names : kRoots) {
    if (EqualsNoCase(names.shortName, name) || EqualsNoCase(names.longName, name))
      return names.root;
  }
  return std::nullopt;
}

std::string_view ShortName(RegistryRoot root) {
  for (const RootNames& names : kRoots) {
    if (names.root == root) return names.shortName;
  }
  return {};
}

HRESULT RunRegistrationScript(std::string_view script, bool registering,
                              const Replacements& replacements, Registry& registry) {
  try {
    return Run(script, registering, replacements, registry);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    // A Registry implementation that throws; nothing may cross the component's boundary.
    return static_cast<HRESULT>(0x8000FFFFu);  // E_UNEXPECTED
  }
}

}  // namespace norvisk
