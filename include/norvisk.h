/* norvisk.h: the C interface of libnorvisk, stacked bar and XY line charts as BMP, JPEG or PNG.
 *
 * A norvisk_graph is the non-visual graph object: it holds at most one graph, a bar graph or an
 * XY graph, made at 640 x 300 pixels. Feed it one item at a time (norvisk_add_...) or a whole
 * data string (norvisk_draw_..., norvisk_bar_chart, norvisk_xy_chart), then write the picture
 * to a file or encode it into memory. Texts are UTF-8 (bytes that are not UTF-8 are read as
 * Latin-1). Data strings:
 *   bar: "(legend;legend;...)(bar;value;value;...)(bar;...)..."
 *   xy:  "(label;value)(label;value)..."
 *
 * Every function that can fail returns a status (NORVISK_OK and the others below). Every entry
 * point accepts null arguments and reports them; none raises a signal or lets a C++ exception
 * out. One handle belongs to one thread at a time; different handles may be used on different
 * threads at once.
 *
 *   unsigned char* jpeg; size_t size;
 *   if (norvisk_bar_chart("(Q1;Q2)(North;10;20)(South;15;25)", 640, 300, NORVISK_FORMAT_JPEG,
 *                         &jpeg, &size) == NORVISK_OK) {
 *     fwrite(jpeg, 1, size, stdout);
 *     norvisk_free(jpeg);
 *   }
 *
 * Plain C89; usable as it stands from C and C++, and from foreign-function interfaces after
 * preprocessing.
 */
#ifndef NORVISK_H
#define NORVISK_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Only the library's own build marks its entry points for export. */
#if defined(NORVISK_BUILDING_LIBRARY) && defined(__GNUC__)
#define NORVISK_API __attribute__((visibility("default")))
#else
#define NORVISK_API
#endif

/* The version of this header: major * 10000 + minor * 100 + patch. */
#define NORVISK_VERSION_MAJOR 1
#define NORVISK_VERSION_MINOR 0
#define NORVISK_VERSION_PATCH 0
#define NORVISK_VERSION_NUMBER 10000

/* The statuses, returned as int. An enumeration, so that they survive preprocessing. */
enum norvisk_status {
  NORVISK_OK = 0,          /* done */
  NORVISK_WRONG_KIND = 1,  /* the call does not fit the graph's kind, or there is no graph */
  NORVISK_NO_MEMORY = 2,   /* memory ran out; a graph being made is not kept */
  NORVISK_NOT_WRITTEN = 3, /* no picture: a file that could not be written, a name of no
                              format, an XY graph without points, a size with no picture */
  NORVISK_BAD_ARGUMENT = 4 /* a null handle or pointer, an unknown format */
};

/* The formats of pictures in memory. Files written by name (norvisk_save_to_file and the
 * drawing calls) are bitmaps and JPEGs only. */
typedef enum norvisk_format {
  NORVISK_FORMAT_BMP = 1,  /* Windows bitmap, 24 bits per pixel, bottom-up rows */
  NORVISK_FORMAT_JPEG = 2, /* baseline JFIF JPEG, quality 90 */
  NORVISK_FORMAT_PNG = 3   /* PNG, 8-bit RGB, lossless: the bitmap's pixels exactly; the same
                              pixels give the same bytes on one machine, but other processors
                              may compress them into other bytes */
} norvisk_format;

typedef struct norvisk_graph norvisk_graph;

/* A new graph object: no graph yet, new graphs 640 x 300. Null when memory ran out. */
NORVISK_API norvisk_graph* norvisk_graph_new(void);
/* Releases the object and its graph; null is allowed. */
NORVISK_API void norvisk_graph_free(norvisk_graph* graph);

/* A new, empty graph of that kind at 640 x 300, replacing the current one. */
NORVISK_API int norvisk_create_bar_graph(norvisk_graph* graph);
NORVISK_API int norvisk_create_xy_graph(norvisk_graph* graph);

/* Bar graphs only (else NORVISK_WRONG_KIND): a series name; a new bar; a value stacked on the
 * latest bar (ignored before the first bar). */
NORVISK_API int norvisk_add_bar_legend(norvisk_graph* graph, const char* legend);
NORVISK_API int norvisk_add_bar_bar(norvisk_graph* graph, const char* name);
NORVISK_API int norvisk_add_bar_value(norvisk_graph* graph, double value);
/* XY graphs only: one more point. */
NORVISK_API int norvisk_add_xy_value(norvisk_graph* graph, const char* label, double value);
/* Empties the current graph's data; its kind and size stay. NORVISK_OK also without a graph. */
NORVISK_API int norvisk_clear(norvisk_graph* graph);

/* Resizes the current graph only (NORVISK_WRONG_KIND without one); the next new graph is again
 * 640 x 300. A size of no picture (0 or less, or over 256 MiB of pixels) is taken, and writing
 * then gives NORVISK_NOT_WRITTEN. */
NORVISK_API int norvisk_set_width(norvisk_graph* graph, int width);
NORVISK_API int norvisk_set_height(norvisk_graph* graph, int height);

/* Puts the background back, renders and writes the file; the name decides the format: ".bmp"
 * anywhere gives a bitmap, else ".jpg" anywhere a JPEG (case-sensitive), else nothing is
 * written. This is the component's SaveToFile with its two formats: a ".png" name writes no
 * PNG (norvisk_encode gives PNG bytes). A file that is there is replaced only by a complete
 * picture (through a symbolic link, the file it leads to). NORVISK_WRONG_KIND without a graph,
 * NORVISK_NOT_WRITTEN when no complete file was written; a file that was there is then left as
 * it was. */
NORVISK_API int norvisk_save_to_file(norvisk_graph* graph, const char* file_name);
/* A new graph of that kind at 640 x 300, the background, the data string, saved to the file
 * as norvisk_save_to_file saves it. */
NORVISK_API int norvisk_draw_bar_graph(norvisk_graph* graph, const char* file_name,
                                       const char* data);
NORVISK_API int norvisk_draw_xy_graph(norvisk_graph* graph, const char* file_name,
                                      const char* data);

/* The picture norvisk_save_to_file would write, as the bytes of a file of `format` in memory
 * (NORVISK_FORMAT_PNG too). On NORVISK_OK *data is a block of *size bytes to be released with
 * norvisk_free; otherwise *data is null and *size 0. */
NORVISK_API int norvisk_encode(norvisk_graph* graph, norvisk_format format, unsigned char** data,
                               size_t* size);

/* One call for the common case: a new graph at 640 x 300, resized to width x height, the data
 * string read, encoded into *out (released with norvisk_free). */
NORVISK_API int norvisk_bar_chart(const char* data, int width, int height, norvisk_format format,
                                  unsigned char** out, size_t* size);
NORVISK_API int norvisk_xy_chart(const char* data, int width, int height, norvisk_format format,
                                 unsigned char** out, size_t* size);

/* The kinds of graph, for norvisk_parse_json. */
typedef enum norvisk_kind { NORVISK_KIND_BAR = 1, NORVISK_KIND_XY = 2 } norvisk_kind;

/* What the data string (`length` bytes, NUL bytes included) gives a new graph of that kind,
 * without drawing, as one line of UTF-8 text ending in "\n" holding one JSON object, the line
 * `norvisk parse` prints:
 *   bar: {"legends":["Q1",...],"bars":[{"name":"North","values":[10,...]},...],"maxTotal":30}
 *   xy:  {"points":[{"label":"Jan","value":10},...],"min":10,"max":20}  (min, max with a point)
 * On NORVISK_OK *json is a NUL-terminated block of *json_length bytes (the NUL not counted),
 * released with norvisk_free; otherwise *json is null and *json_length 0. */
NORVISK_API int norvisk_parse_json(norvisk_kind kind, const char* data, size_t length, char** json,
                                   size_t* json_length);

/* Releases a block from norvisk_encode, the chart functions or norvisk_parse_json, on any
 * thread; null is allowed. On Linux the library may keep the block for the next picture. */
NORVISK_API void norvisk_free(void* data);

/* A short English text for a status, never null. */
NORVISK_API const char* norvisk_status_text(int status);
/* The library's version as "major.minor.patch". */
NORVISK_API const char* norvisk_version(void);

#ifdef __cplusplus
}
#endif

#endif /* NORVISK_H */
