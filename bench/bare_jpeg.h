// The yardstick of the JPEG benchmarks: libjpeg alone, rows handed over one by one as RGB.
#pragma once

#include <jpeglib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "raster/canvas.h"

namespace norvisk_bench {

struct RgbPicture {
  RgbPicture(int w, int h) : width(w), height(h), rgb(static_cast<std::size_t>(w) * h * 3) {}
  int width;
  int height;
  std::vector<unsigned char> rgb;  // top row first
};

// A canvas's picture as RGB rows, top row first.
inline RgbPicture FromCanvas(norvisk::Canvas& canvas) {
  const int width = canvas.surfaceDesc().width, height = canvas.surfaceDesc().height;
  RgbPicture picture(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      norvisk::Color c = canvas.GetPixel(x, y);
      unsigned char* p = &picture.rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      p[0] = static_cast<unsigned char>(norvisk::RedOf(c));
      p[1] = static_cast<unsigned char>(norvisk::GreenOf(c));
      p[2] = static_cast<unsigned char>(norvisk::BlueOf(c));
    }
  return picture;
}

// Compresses the picture into a file with the settings the writer documents: defaults for RGB
// input, quality 90 with baseline tables.
inline bool CompressToFile(const RgbPicture& picture, const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = static_cast<JDIMENSION>(picture.width);
  cinfo.image_height = static_cast<JDIMENSION>(picture.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<unsigned char*>(picture.rgb.data()) +
                   static_cast<std::size_t>(cinfo.next_scanline) * picture.width * 3;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return std::fclose(file) == 0;
}

}  // namespace norvisk_bench
