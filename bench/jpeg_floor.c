/* The floor of a process that writes a chart as a JPEG: a C program that takes the chart's pixels
 * ready-made from a bitmap file (the drawing reduced to reading them), compresses them as the
 * command does (libjpeg's defaults, quality 90, rows as blue-green-red) and writes the file.
 * bench/compare_gnuplot.sh times it beside the command; both files must be the same bytes.
 *   jpeg_floor IN.bmp OUT.jpg
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <jpeglib.h>

static unsigned read32(const unsigned char* p) {
  return p[0] | (unsigned)p[1] << 8 | (unsigned)p[2] << 16 | (unsigned)p[3] << 24;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: jpeg_floor IN.bmp OUT.jpg\n");
    return 2;
  }
  FILE* in = fopen(argv[1], "rb");
  if (!in) return 1;
  unsigned char header[54];
  if (fread(header, 1, sizeof header, in) != sizeof header || header[0] != 'B' || header[1] != 'M' ||
      header[28] != 24)
    return 1;
  const int width = (int)read32(header + 18), height = (int)read32(header + 22);
  const size_t stride = ((size_t)width * 3 + 3) & ~(size_t)3;
  unsigned char* bits = malloc(stride * (size_t)height);
  if (!bits || fseek(in, (long)read32(header + 10), SEEK_SET) != 0 ||
      fread(bits, 1, stride * (size_t)height, in) != stride * (size_t)height)
    return 1;
  fclose(in);

  struct jpeg_compress_struct cinfo;
  struct jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  FILE* out = fopen(argv[2], "wb");
  if (!out) return 1;
  jpeg_stdio_dest(&cinfo, out);
  cinfo.image_width = (JDIMENSION)width;
  cinfo.image_height = (JDIMENSION)height;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  JSAMPROW* rows = malloc(sizeof(JSAMPROW) * (size_t)height);
  if (!rows) return 1;
  for (int r = 0; r < height; ++r) rows[r] = bits + (size_t)(height - 1 - r) * stride;  /* bottom-up */
  jpeg_write_scanlines(&cinfo, rows, (JDIMENSION)height);
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return fclose(out) == 0 ? 0 : 1;
}
