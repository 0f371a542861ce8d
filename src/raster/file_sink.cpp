// FileSink: what does not depend on the platform's file functions.
#include "raster/file_sink.h"

namespace norvisk {

FileSink::~FileSink() {
  if (way_ != Way::Closed) Discard();
}

void FileSink::Discard() {
  if (way_ == Way::Closed) return;
  failed_ = true;
  Close();
}

void FileSink::Reset() {
  way_ = Way::Closed;
  file_ = target_ = kNoFile;
  final_.clear();
  temp_.clear();
  memory_.reset();
  failed_ = false;
  error_ = 0;
}

}  // namespace norvisk
