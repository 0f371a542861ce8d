// DataReader: what a data string gives a new graph of a kind, to be read and shown (the
// command's `parse`), never drawn.
#pragma once

#include "objects/graph_holder.h"

namespace norvisk {

class DataReader : public GraphHolder {
 public:
  DataReader() : GraphHolder(nullptr) {}

  // A new graph of `kind` that has read `data`; its data is then barData() or xyData(). The
  // graph has no picture, so no memory goes to one. E_OUTOFMEMORY when the text cannot be
  // converted.
  HRESULT Read(GraphKind kind, TextArg data) {
    if (HRESULT hr = Replace(kind, 0, 0); hr != S_OK) return hr;
    return LoadData(data);
  }
};

}  // namespace norvisk
