// The run script reader: a method name, then its arguments separated by blanks.
#include "cli/script.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>

namespace norvisk::cli {
namespace {

enum class Method : std::uint8_t {
  AddBarBar,
  AddBarLegend,
  AddBarValue,
  AddXYValue,
  Clear,
  CreateXYGraph,
  SaveToFile,
  DrawBarGraph,
  DrawXYGraph,
  CreateBarGraph,
  SetWidth,
  SetHeight
};

enum class Arg : std::uint8_t { Text, Number, Size };

struct MethodInfo {
  std::string_view name;
  Method method;
  int argc;
  Arg args[2];
  std::string_view argNames;  // for the message when the count is wrong
};

constexpr MethodInfo kMethods[] = {
    {"AddBarBar", Method::AddBarBar, 1, {Arg::Text}, "name"},
    {"AddBarLegend", Method::AddBarLegend, 1, {Arg::Text}, "legend"},
    {"AddBarValue", Method::AddBarValue, 1, {Arg::Number}, "value"},
    {"AddXYValue", Method::AddXYValue, 2, {Arg::Text, Arg::Number}, "label value"},
    {"Clear", Method::Clear, 0, {}, ""},
    {"CreateXYGraph", Method::CreateXYGraph, 0, {}, ""},
    {"SaveToFile", Method::SaveToFile, 1, {Arg::Text}, "fileName"},
    {"DrawBarGraph", Method::DrawBarGraph, 2, {Arg::Text, Arg::Text}, "fileName data"},
    {"DrawXYGraph", Method::DrawXYGraph, 2, {Arg::Text, Arg::Text}, "fileName data"},
    {"CreateBarGraph", Method::CreateBarGraph, 0, {}, ""},
    {"SetWidth", Method::SetWidth, 1, {Arg::Size}, "width"},
    {"SetHeight", Method::SetHeight, 1, {Arg::Size}, "height"},
};

const MethodInfo* FindMethod(std::string_view name) {
  for (const MethodInfo& m : kMethods)
    if (m.name == name) return &m;
  return nullptr;
}

// One call read from a line. The strings keep their capacity from line to line.
struct Call {
  const MethodInfo* info = nullptr;
  std::string text[2];
  double number = 0.0;
  int size = 0;
};

struct Token {
  std::string_view raw;  // a bare word, or what stands between the quotes, escapes included
  bool quoted = false;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::size_t SkipBlanks(std::string_view line, std::size_t pos) {
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  return pos;
}

// The token at `pos` (not a blank, not the end); `pos` moves past it.
bool ReadToken(std::string_view line, std::size_t& pos, Token* token, std::string* why) {
  std::size_t start = pos;
  if (line[pos] != '"') {
    while (pos < line.size() && !IsBlank(line[pos])) {
      if (line[pos] == '"') {
        *why = "a quote inside an unquoted text; put the whole text in quotes";
        return false;
      }
      ++pos;
    }
    *token = Token{line.substr(start, pos - start), false};
    return true;
  }
  ++pos;
  for (;; ++pos) {
    if (pos >= line.size()) {
      *why = "unterminated quote";
      return false;
    }
    if (line[pos] == '"') break;
    if (line[pos] == '\\') {
      if (pos + 1 < line.size() && (line[pos + 1] == '"' || line[pos + 1] == '\\')) {
        ++pos;
        continue;
      }
      *why = pos + 1 < line.size()
                 ? std::string("bad escape \\") + line[pos + 1] + " (only \\\" and \\\\)"
                 : std::string("unterminated quote");
      return false;
    }
  }
  *token = Token{line.substr(start + 1, pos - start - 1), true};
  ++pos;
  if (pos < line.size() && !IsBlank(line[pos])) {
    *why = "a blank must follow the closing quote";
    return false;
  }
  return true;
}

void TokenText(const Token& token, std::string* out) {
  if (!token.quoted) {
    out->assign(token.raw);
    return;
  }
  out->clear();
  for (std::size_t i = 0; i < token.raw.size(); ++i) {
    // ReadToken let through only \" and \\ .
    if (token.raw[i] == '\\') ++i;
    *out += token.raw[i];
  }
}

// The number text without its one allowed leading '+'; false for "+-1" and the like.
bool StripPlus(std::string_view* s) {
  if (s->empty() || (*s)[0] != '+') return true;
  s->remove_prefix(1);
  return s->empty() || ((*s)[0] != '-' && (*s)[0] != '+');
}

bool TokenNumber(const Token& token, double* value, std::string* why) {
  std::string_view s = token.raw;
  if (!token.quoted && StripPlus(&s)) {
    const char* end = s.data() + s.size();
    auto result = std::from_chars(s.data(), end, *value, std::chars_format::general);
    if (result.ptr == end && result.ec == std::errc() && std::isfinite(*value)) return true;
    if (result.ptr == end && result.ec == std::errc::result_out_of_range) {
      *why = "number out of range: " + std::string(token.raw);
      return false;
    }
  }
  *why = "not a number: " + std::string(token.quoted ? "\"" : "") + std::string(token.raw) +
         (token.quoted ? "\"" : "");
  return false;
}

bool TokenSize(const Token& token, int* value, std::string* why) {
  std::string_view s = token.raw;
  if (!token.quoted && StripPlus(&s)) {
    const char* end = s.data() + s.size();
    auto result = std::from_chars(s.data(), end, *value);
    if (result.ptr == end && result.ec == std::errc()) return true;
    if (result.ptr == end && result.ec == std::errc::result_out_of_range) {
      *why = "whole number out of range: " + std::string(token.raw);
      return false;
    }
  }
  *why = "not a whole number: " + std::string(token.quoted ? "\"" : "") + std::string(token.raw) +
         (token.quoted ? "\"" : "");
  return false;
}

enum class LineKind { Skip, Call, Bad };

LineKind ReadLine(std::string_view line, Call* call, std::string* why) {
  std::size_t pos = SkipBlanks(line, 0);
  if (pos == line.size() || line[pos] == '#') return LineKind::Skip;

  std::size_t nameStart = pos;
  while (pos < line.size() && !IsBlank(line[pos])) ++pos;
  std::string_view name = line.substr(nameStart, pos - nameStart);
  call->info = FindMethod(name);
  if (!call->info) {
    *why = "unknown method \"" + std::string(name) + "\"";
    return LineKind::Bad;
  }

  Token tokens[2];
  int count = 0;
  for (pos = SkipBlanks(line, pos); pos < line.size(); pos = SkipBlanks(line, pos)) {
    Token token;
    if (!ReadToken(line, pos, &token, why)) return LineKind::Bad;
    if (count < 2) tokens[count] = token;
    ++count;
  }
  const MethodInfo& m = *call->info;
  if (count != m.argc) {
    *why = std::string(m.name);
    if (m.argc == 0)
      *why += " takes no arguments";
    else
      *why += " takes " + std::to_string(m.argc) + (m.argc == 1 ? " argument (" : " arguments (") +
              std::string(m.argNames) + ")";
    *why += ", not " + std::to_string(count);
    return LineKind::Bad;
  }

  int textIndex = 0;
  for (int i = 0; i < count; ++i) {
    bool ok = true;
    switch (m.args[i]) {
      case Arg::Text: TokenText(tokens[i], &call->text[textIndex++]); break;
      case Arg::Number: ok = TokenNumber(tokens[i], &call->number, why); break;
      case Arg::Size: ok = TokenSize(tokens[i], &call->size, why); break;
    }
    if (!ok) {
      *why = std::string(m.name) + ": " + *why;
      return LineKind::Bad;
    }
  }
  return LineKind::Call;
}

HRESULT Make(const Call& c, GraphCalls& g) {
  switch (c.info->method) {
    case Method::AddBarBar: return g.AddBarBar(c.text[0]);
    case Method::AddBarLegend: return g.AddBarLegend(c.text[0]);
    case Method::AddBarValue: return g.AddBarValue(c.number);
    case Method::AddXYValue: return g.AddXYValue(c.text[0], c.number);
    case Method::Clear: return g.Clear();
    case Method::CreateXYGraph: return g.CreateXYGraph();
    case Method::SaveToFile: return g.SaveToFile(c.text[0]);
    case Method::DrawBarGraph: return g.DrawBarGraph(c.text[0], c.text[1]);
    case Method::DrawXYGraph: return g.DrawXYGraph(c.text[0], c.text[1]);
    case Method::CreateBarGraph: return g.CreateBarGraph();
    case Method::SetWidth: return g.SetWidth(c.size);
    case Method::SetHeight: return g.SetHeight(c.size);
  }
  return S_FALSE;
}

void Trace(std::FILE* out, std::string_view method, HRESULT status) {
  char line[64];
  int n;
  if (status == S_OK)
    n = std::snprintf(line, sizeof line, "%.*s S_OK\n", static_cast<int>(method.size()),
                      method.data());
  else if (status == S_FALSE)
    n = std::snprintf(line, sizeof line, "%.*s S_FALSE\n", static_cast<int>(method.size()),
                      method.data());
  else
    n = std::snprintf(line, sizeof line, "%.*s 0x%08X\n", static_cast<int>(method.size()),
                      method.data(), static_cast<unsigned>(static_cast<std::uint32_t>(status)));
  std::fwrite(line, 1, static_cast<std::size_t>(n), out);
}

}  // namespace

bool RunScript(std::string_view text, GraphCalls& target, std::FILE* trace, ScriptError* error) {
  // Windows editors begin UTF-8 files with a byte-order mark: it is not part of the first line.
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
    text.remove_prefix(kByteOrderMark.size());
  Call call;
  std::size_t number = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t newline = text.find('\n', start);
    std::size_t end = newline == std::string_view::npos ? text.size() : newline;
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    start = end + 1;
    ++number;

    switch (ReadLine(line, &call, &error->why)) {
      case LineKind::Skip: break;
      case LineKind::Bad: error->line = number; return false;
      case LineKind::Call: {
        HRESULT status = Make(call, target);
        if (trace) Trace(trace, call.info->name, status);
        break;
      }
    }
  }
  return true;
}

}  // namespace norvisk::cli
