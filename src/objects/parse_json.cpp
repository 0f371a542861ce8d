// JSON text of what a data string gives: strings re-encoded as UTF-8, numbers that read back
// exactly.
#include "objects/parse_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "base/text_number.h"
#include "objects/data_reader.h"

namespace norvisk {

void JsonString(std::string& out, std::string_view text) {
  out += '"';
  DecodeText(text, [&](char32_t c) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out += buf;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      // Re-encoded as UTF-8: bytes that were not UTF-8 were read as Latin-1.
      if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
      } else {
        if (c < 0x10000) {
          out += static_cast<char>(0xE0 | (c >> 12));
        } else {
          out += static_cast<char>(0xF0 | (c >> 18));
          out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        }
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      }
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  });
  out += '"';
}

// Infinities as numbers too large for a double, which JSON readers take as infinite.
void JsonNumber(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "null";
  } else if (std::isinf(value)) {
    out += value < 0 ? "-1e999" : "1e999";
  } else {
    char buf[32];
    auto result = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, result.ptr);
  }
}

namespace {

void BarJson(std::string& out, const GraphHolder& object) {
  const BarData& d = *object.barData();
  out += "{\"legends\":[";
  for (std::size_t i = 0; i < d.legends.size(); ++i) {
    if (i) out += ',';
    JsonString(out, d.legends[i]);
  }
  out += "],\"bars\":[";
  for (std::size_t i = 0; i < d.bars.size(); ++i) {
    if (i) out += ',';
    out += "{\"name\":";
    JsonString(out, d.bars[i].name);
    out += ",\"values\":[";
    bool first = true;
    for (double value : d.ValuesOf(d.bars[i])) {
      if (!first) out += ',';
      first = false;
      JsonNumber(out, value);
    }
    out += "]}";
  }
  out += "],\"maxTotal\":";
  JsonNumber(out, d.maxTotal);
  out += '}';
}

void XYJson(std::string& out, const GraphHolder& object) {
  const XYData& d = *object.xyData();
  out += "{\"points\":[";
  bool first = true;
  for (int k = 0; k < d.Count(); ++k) {
    const XYPoint p = d.Point(static_cast<std::size_t>(k));
    if (!first) out += ',';
    first = false;
    out += "{\"label\":";
    JsonString(out, p.label);
    out += ",\"value\":";
    JsonNumber(out, p.value);
    out += '}';
  }
  out += ']';
  // The running minimum and maximum mean something only once there is a point.
  if (d.Count() > 0) {
    out += ",\"min\":";
    JsonNumber(out, d.MinValue());
    out += ",\"max\":";
    JsonNumber(out, d.MaxValue());
  }
  out += '}';
}

}  // namespace

HRESULT ParseJson(GraphKind kind, std::string_view data, std::string* out) {
  DataReader reader;
  if (HRESULT hr = reader.Read(kind, data); hr != S_OK) return hr;
  (kind == GraphKind::Bar ? BarJson : XYJson)(*out, reader);
  return S_OK;
}

}  // namespace norvisk
