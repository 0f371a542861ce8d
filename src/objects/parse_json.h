// What a data string gives a new graph of a kind, as one JSON object: the text the command's
// `parse` prints and the service's /parse answers, made in one place so that both give the
// same bytes.
#pragma once

#include <string>
#include <string_view>

#include "objects/graph_holder.h"
#include "objects/status.h"

namespace norvisk {

// Appends `text` as a JSON string; bytes that are not UTF-8 are read as Latin-1.
void JsonString(std::string& out, std::string_view text);
// Appends the shortest number that reads back to `value`; infinities as 1e999, NaN as null.
void JsonNumber(std::string& out, double value);

// Bar: {"legends":[...],"bars":[{"name":...,"values":[...]}],"maxTotal":N}.
// XY: {"points":[{"label":...,"value":N}],"min":N,"max":N}, min and max only with a point.
// Appends to `out`, without a line end. E_OUTOFMEMORY when memory runs out (may throw
// std::bad_alloc from the appending).
HRESULT ParseJson(GraphKind kind, std::string_view data, std::string* out);

}  // namespace norvisk
