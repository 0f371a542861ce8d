/* libnorvisk through norvisk.h only: every function and status, null arguments, and the bytes
 * of memory pictures against the files of norvisk_save_to_file and of the norvisk command; memory
 * and file-size limits reported as statuses, never as the end of the process. */
#include "norvisk.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static int failures = 0;

#define CHECK(cond)                                                      \
  do {                                                                   \
    if (!(cond)) {                                                       \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                        \
    }                                                                    \
  } while (0)

#define CHECK_STATUS(call, want)                                                            \
  do {                                                                                      \
    int got_ = (call);                                                                      \
    if (got_ != (want)) {                                                                   \
      fprintf(stderr, "%s:%d: %s gave %d (%s), want %d\n", __FILE__, __LINE__, #call, got_, \
              norvisk_status_text(got_), (want));                                           \
      ++failures;                                                                           \
    }                                                                                       \
  } while (0)

static const char* kBar = "(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)";
static const char* kXY = "(Jan;10)(Feb;20)(Mar;15)(Apr;-4)";

static char folder[256];

static const char* path_of(const char* name) {
  static char paths[8][512];
  static int next = 0;
  char* p = paths[next++ % 8];
  snprintf(p, 512, "%s/%s", folder, name);
  return p;
}

typedef struct {
  unsigned char* data;
  size_t size;
} bytes;

static bytes read_file(const char* path) {
  bytes b = {NULL, 0};
  FILE* f = fopen(path, "rb");
  long n;
  if (!f) return b;
  fseek(f, 0, SEEK_END);
  n = ftell(f);
  fseek(f, 0, SEEK_SET);
  b.data = (unsigned char*)malloc(n > 0 ? (size_t)n : 1);
  b.size = fread(b.data, 1, (size_t)n, f);
  fclose(f);
  return b;
}

static int exists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0;
}

/* Whether the memory block holds exactly the file's bytes. */
static int same_as_file(const unsigned char* data, size_t size, const char* path) {
  bytes f = read_file(path);
  int same = f.data != NULL && f.size == size && size > 0 && memcmp(f.data, data, size) == 0;
  free(f.data);
  return same;
}

/* Runs the command: norvisk KIND OUTPUT DATA [--width W --height H]; its exit status. */
static int run_command(const char* kind, const char* output, const char* data, int width,
                       int height) {
  char size_args[64] = "";
  char command[2048];
  int raw;
  if (width > 0) snprintf(size_args, sizeof size_args, " --width %d --height %d", width, height);
  snprintf(command, sizeof command, "'%s' %s '%s' '%s'%s </dev/null", NORVISK_BINARY, kind, output,
           data, size_args);
  raw = system(command);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

static unsigned le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | ((unsigned)p[3] << 24);
}

static unsigned be32(const unsigned char* p) {
  return ((unsigned)p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

/* A PNG's signature, then its IHDR: w x h, 8-bit RGB, not interlaced; IEND last. */
static int png_of_size(const unsigned char* data, size_t size, int w, int h) {
  static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return size > 8 + 25 + 12 && memcmp(data, signature, 8) == 0 && be32(data + 8) == 13 &&
         memcmp(data + 12, "IHDR", 4) == 0 && be32(data + 16) == (unsigned)w &&
         be32(data + 20) == (unsigned)h && memcmp(data + 24, "\x08\x02\x00\x00\x00", 5) == 0 &&
         memcmp(data + size - 8, "IEND", 4) == 0;
}

static void test_version_and_texts(void) {
  char want[32];
  const int statuses[] = {NORVISK_OK, NORVISK_WRONG_KIND, NORVISK_NO_MEMORY, NORVISK_NOT_WRITTEN,
                          NORVISK_BAD_ARGUMENT};
  int i, j;
  snprintf(want, sizeof want, "%d.%d.%d", NORVISK_VERSION_NUMBER / 10000,
           NORVISK_VERSION_NUMBER / 100 % 100, NORVISK_VERSION_NUMBER % 100);
  CHECK(strcmp(norvisk_version(), want) == 0);
  CHECK(strcmp(norvisk_version(), NORVISK_VERSION) == 0);
  CHECK(NORVISK_OK == 0 && NORVISK_WRONG_KIND == 1);
  /* Every status has a text of its own; an unknown one a text too. */
  for (i = 0; i < 5; ++i) {
    CHECK(norvisk_status_text(statuses[i]) != NULL);
    CHECK(strcmp(norvisk_status_text(statuses[i]), "unknown status") != 0);
    for (j = 0; j < i; ++j)
      CHECK(strcmp(norvisk_status_text(statuses[i]), norvisk_status_text(statuses[j])) != 0);
  }
  CHECK(strcmp(norvisk_status_text(5), "unknown status") == 0);
  CHECK(strcmp(norvisk_status_text(-1), "unknown status") == 0);
}

static void test_null_arguments(void) {
  norvisk_graph* g = norvisk_graph_new();
  unsigned char* data = (unsigned char*)"x";
  size_t size = 7;
  CHECK(g != NULL);
  CHECK_STATUS(norvisk_create_bar_graph(NULL), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_create_xy_graph(NULL), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_add_bar_legend(NULL, "a"), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_add_bar_bar(NULL, "a"), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_add_bar_value(NULL, 1), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_add_xy_value(NULL, "a", 1), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_clear(NULL), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_set_width(NULL, 10), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_set_height(NULL, 10), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_save_to_file(NULL, path_of("null.bmp")), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_draw_bar_graph(NULL, path_of("null.bmp"), kBar), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_draw_xy_graph(NULL, path_of("null.bmp"), kXY), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_encode(NULL, NORVISK_FORMAT_BMP, &data, &size), NORVISK_BAD_ARGUMENT);
  CHECK(data == NULL && size == 0);
  CHECK(!exists(path_of("null.bmp")));

  /* A valid handle with null texts, names and outputs: refused, and nothing changes. */
  CHECK_STATUS(norvisk_create_bar_graph(g), NORVISK_OK);
  CHECK_STATUS(norvisk_add_bar_legend(g, NULL), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_add_bar_bar(g, NULL), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_add_xy_value(g, NULL, 1), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_save_to_file(g, NULL), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_draw_bar_graph(g, NULL, kBar), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_draw_bar_graph(g, path_of("null.bmp"), NULL), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_draw_xy_graph(g, path_of("null.bmp"), NULL), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_draw_xy_graph(g, NULL, kXY), NORVISK_BAD_ARGUMENT);
  CHECK(!exists(path_of("null.bmp")));
  /* The bar graph is still there, still a bar graph. */
  CHECK_STATUS(norvisk_add_xy_value(g, "a", 1), NORVISK_WRONG_KIND);
  CHECK_STATUS(norvisk_add_bar_bar(g, "a"), NORVISK_OK);

  CHECK_STATUS(norvisk_encode(g, NORVISK_FORMAT_BMP, NULL, &size), NORVISK_BAD_ARGUMENT);
  CHECK(size == 0);
  data = (unsigned char*)"x";
  CHECK_STATUS(norvisk_encode(g, NORVISK_FORMAT_BMP, &data, NULL), NORVISK_BAD_ARGUMENT);
  CHECK(data == NULL);
  /* Unknown formats, also through a cast. */
  size = 7;
  CHECK_STATUS(norvisk_encode(g, (norvisk_format)0, &data, &size), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_encode(g, (norvisk_format)4, &data, &size), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_encode(g, (norvisk_format)-1, &data, &size), NORVISK_BAD_ARGUMENT);
  CHECK(data == NULL && size == 0);

  CHECK_STATUS(norvisk_bar_chart(NULL, 640, 300, NORVISK_FORMAT_BMP, &data, &size),
               NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_bar_chart(kBar, 640, 300, NORVISK_FORMAT_BMP, NULL, &size),
               NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_bar_chart(kBar, 640, 300, NORVISK_FORMAT_BMP, &data, NULL),
               NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_xy_chart(NULL, 640, 300, NORVISK_FORMAT_JPEG, &data, &size),
               NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_xy_chart(kXY, 640, 300, (norvisk_format)9, &data, &size),
               NORVISK_BAD_ARGUMENT);
  CHECK(data == NULL && size == 0);

  norvisk_graph_free(NULL);
  norvisk_free(NULL);
  norvisk_graph_free(g);
}

static void test_fresh_object_and_kinds(void) {
  norvisk_graph* g = norvisk_graph_new();
  unsigned char* data;
  size_t size;
  /* No graph yet: every call of a kind is refused, Clear is done. */
  CHECK_STATUS(norvisk_add_bar_legend(g, "a"), NORVISK_WRONG_KIND);
  CHECK_STATUS(norvisk_add_bar_bar(g, "a"), NORVISK_WRONG_KIND);
  CHECK_STATUS(norvisk_add_bar_value(g, 1), NORVISK_WRONG_KIND);
  CHECK_STATUS(norvisk_add_xy_value(g, "a", 1), NORVISK_WRONG_KIND);
  CHECK_STATUS(norvisk_clear(g), NORVISK_OK);
  CHECK_STATUS(norvisk_set_width(g, 800), NORVISK_WRONG_KIND);
  CHECK_STATUS(norvisk_set_height(g, 400), NORVISK_WRONG_KIND);
  CHECK_STATUS(norvisk_save_to_file(g, path_of("fresh.bmp")), NORVISK_WRONG_KIND);
  CHECK(!exists(path_of("fresh.bmp")));
  CHECK_STATUS(norvisk_encode(g, NORVISK_FORMAT_BMP, &data, &size), NORVISK_WRONG_KIND);
  CHECK(data == NULL && size == 0);

  /* An XY graph takes only points; a bar graph only legends, bars and values. */
  CHECK_STATUS(norvisk_create_xy_graph(g), NORVISK_OK);
  CHECK_STATUS(norvisk_add_bar_legend(g, "a"), NORVISK_WRONG_KIND);
  CHECK_STATUS(norvisk_add_bar_bar(g, "a"), NORVISK_WRONG_KIND);
  CHECK_STATUS(norvisk_add_bar_value(g, 1), NORVISK_WRONG_KIND);
  /* Without points nothing is written. */
  CHECK_STATUS(norvisk_encode(g, NORVISK_FORMAT_JPEG, &data, &size), NORVISK_NOT_WRITTEN);
  CHECK(data == NULL && size == 0);
  CHECK_STATUS(norvisk_save_to_file(g, path_of("empty.jpg")), NORVISK_NOT_WRITTEN);
  CHECK(!exists(path_of("empty.jpg")));
  CHECK_STATUS(norvisk_add_xy_value(g, "a", 1), NORVISK_OK);
  CHECK_STATUS(norvisk_encode(g, NORVISK_FORMAT_JPEG, &data, &size), NORVISK_OK);
  CHECK(data != NULL && size > 4 && data[0] == 0xFF && data[1] == 0xD8);
  norvisk_free(data);
  /* Clear keeps the kind and empties the points. */
  CHECK_STATUS(norvisk_clear(g), NORVISK_OK);
  CHECK_STATUS(norvisk_add_bar_bar(g, "a"), NORVISK_WRONG_KIND);
  CHECK_STATUS(norvisk_encode(g, NORVISK_FORMAT_JPEG, &data, &size), NORVISK_NOT_WRITTEN);

  CHECK_STATUS(norvisk_create_bar_graph(g), NORVISK_OK);
  CHECK_STATUS(norvisk_add_xy_value(g, "a", 1), NORVISK_WRONG_KIND);
  CHECK_STATUS(norvisk_add_bar_value(g, 1), NORVISK_OK); /* before any bar: ignored */
  CHECK_STATUS(norvisk_add_bar_legend(g, "a"), NORVISK_OK);
  CHECK_STATUS(norvisk_add_bar_bar(g, "b"), NORVISK_OK);
  CHECK_STATUS(norvisk_add_bar_value(g, 2), NORVISK_OK);
  /* An empty bar graph still has a picture. */
  CHECK_STATUS(norvisk_clear(g), NORVISK_OK);
  CHECK_STATUS(norvisk_encode(g, NORVISK_FORMAT_BMP, &data, &size), NORVISK_OK);
  CHECK(size == 54 + 1920 * 300);
  norvisk_free(data);

  /* A drawing method replaces the graph whatever its kind. */
  CHECK_STATUS(norvisk_draw_xy_graph(g, path_of("draw.bmp"), kXY), NORVISK_OK);
  CHECK_STATUS(norvisk_add_bar_value(g, 1), NORVISK_WRONG_KIND);
  CHECK_STATUS(norvisk_add_xy_value(g, "more", 3), NORVISK_OK);
  norvisk_graph_free(g);
}

/* A graph made up call by call against the same data through the command; every format and
 * two sizes; memory, the handle's file and the command's file hold the same bytes. The handle
 * saves files as the component does: a ".png" name writes nothing. */
static void test_bytes_match_files_and_command(void) {
  const struct {
    norvisk_format format;
    const char* ext;
  } formats[] = {
      {NORVISK_FORMAT_BMP, "bmp"}, {NORVISK_FORMAT_JPEG, "jpg"}, {NORVISK_FORMAT_PNG, "png"}};
  const int sizes[][2] = {{640, 300}, {701, 333}};
  int f, s;
  for (f = 0; f < 3; ++f) {
    for (s = 0; s < 2; ++s) {
      char name[64], command_name[64], ext_name[64];
      norvisk_graph* g = norvisk_graph_new();
      unsigned char* data = NULL;
      unsigned char* chart = NULL;
      size_t size = 0, chart_size = 0;
      const int w = sizes[s][0], h = sizes[s][1];
      snprintf(name, sizeof name, "handle-%d.%s", w, formats[f].ext);
      snprintf(command_name, sizeof command_name, "command-%d.%s", w, formats[f].ext);
      snprintf(ext_name, sizeof ext_name, "xy-command-%d.%s", w, formats[f].ext);

      CHECK_STATUS(norvisk_create_bar_graph(g), NORVISK_OK);
      CHECK_STATUS(norvisk_set_width(g, w), NORVISK_OK);
      CHECK_STATUS(norvisk_set_height(g, h), NORVISK_OK);
      CHECK_STATUS(norvisk_add_bar_legend(g, "Q1"), NORVISK_OK);
      CHECK_STATUS(norvisk_add_bar_legend(g, "Q2"), NORVISK_OK);
      CHECK_STATUS(norvisk_add_bar_legend(g, "Q3"), NORVISK_OK);
      CHECK_STATUS(norvisk_add_bar_bar(g, "North"), NORVISK_OK);
      CHECK_STATUS(norvisk_add_bar_value(g, 10), NORVISK_OK);
      CHECK_STATUS(norvisk_add_bar_value(g, 20), NORVISK_OK);
      CHECK_STATUS(norvisk_add_bar_value(g, 30), NORVISK_OK);
      CHECK_STATUS(norvisk_add_bar_bar(g, "South"), NORVISK_OK);
      CHECK_STATUS(norvisk_add_bar_value(g, 15), NORVISK_OK);
      CHECK_STATUS(norvisk_add_bar_value(g, 25), NORVISK_OK);
      CHECK_STATUS(norvisk_add_bar_value(g, 35), NORVISK_OK);
      CHECK_STATUS(norvisk_add_bar_bar(g, "East"), NORVISK_OK);
      CHECK_STATUS(norvisk_add_bar_value(g, 5), NORVISK_OK);
      CHECK_STATUS(norvisk_add_bar_value(g, 10), NORVISK_OK);
      CHECK_STATUS(norvisk_add_bar_value(g, 5), NORVISK_OK);

      CHECK_STATUS(norvisk_encode(g, formats[f].format, &data, &size), NORVISK_OK);
      CHECK(run_command("bar", path_of(command_name), kBar, w, h) == 0);
      CHECK(same_as_file(data, size, path_of(command_name)));
      if (formats[f].format == NORVISK_FORMAT_PNG) {
        CHECK_STATUS(norvisk_save_to_file(g, path_of(name)), NORVISK_NOT_WRITTEN);
        CHECK(!exists(path_of(name)));
      } else {
        CHECK_STATUS(norvisk_save_to_file(g, path_of(name)), NORVISK_OK);
        CHECK(same_as_file(data, size, path_of(name)));
      }
      /* Encoding again gives the same picture: the background is put back each time. */
      norvisk_free(data);
      CHECK_STATUS(norvisk_encode(g, formats[f].format, &data, &size), NORVISK_OK);
      CHECK(same_as_file(data, size, path_of(command_name)));
      if (formats[f].format == NORVISK_FORMAT_BMP) {
        CHECK(size == 54 + (size_t)((w * 3 + 3) / 4 * 4) * h);
        CHECK(data[0] == 'B' && data[1] == 'M' && le32(data + 18) == (unsigned)w &&
              le32(data + 22) == (unsigned)h);
      } else if (formats[f].format == NORVISK_FORMAT_PNG) {
        CHECK(png_of_size(data, size, w, h));
        /* Lossless, and still a fraction of the bitmap. */
        CHECK(size < (size_t)w * h / 4);
      } else {
        CHECK(data[0] == 0xFF && data[1] == 0xD8 && data[size - 2] == 0xFF &&
              data[size - 1] == 0xD9);
      }
      /* The one-call helper gives the same bytes. */
      CHECK_STATUS(norvisk_bar_chart(kBar, w, h, formats[f].format, &chart, &chart_size),
                   NORVISK_OK);
      CHECK(chart_size == size && chart != NULL && memcmp(chart, data, size) == 0);
      norvisk_free(chart);
      norvisk_free(data);

      /* The same for XY, through the data string. */
      CHECK_STATUS(norvisk_xy_chart(kXY, w, h, formats[f].format, &chart, &chart_size), NORVISK_OK);
      CHECK(run_command("xy", path_of(ext_name), kXY, w, h) == 0);
      CHECK(same_as_file(chart, chart_size, path_of(ext_name)));
      norvisk_free(chart);
      norvisk_graph_free(g);
    }
  }
}

static void test_drawing_methods_write_files(void) {
  norvisk_graph* g = norvisk_graph_new();
  unsigned char* data;
  size_t size;
  bytes a, b;
  /* The drawing method's file is the command's, at 640 x 300 even after a resize. */
  CHECK_STATUS(norvisk_create_bar_graph(g), NORVISK_OK);
  CHECK_STATUS(norvisk_set_width(g, 800), NORVISK_OK);
  CHECK_STATUS(norvisk_draw_bar_graph(g, path_of("drawn.jpg"), kBar), NORVISK_OK);
  CHECK(run_command("bar", path_of("drawn-command.jpg"), kBar, 0, 0) == 0);
  a = read_file(path_of("drawn.jpg"));
  b = read_file(path_of("drawn-command.jpg"));
  CHECK(a.size > 0 && a.size == b.size && memcmp(a.data, b.data, a.size) == 0);
  free(a.data);
  free(b.data);
  /* What was drawn can be saved again and encoded: the same picture. */
  CHECK_STATUS(norvisk_save_to_file(g, path_of("again.jpg")), NORVISK_OK);
  CHECK_STATUS(norvisk_encode(g, NORVISK_FORMAT_JPEG, &data, &size), NORVISK_OK);
  CHECK(same_as_file(data, size, path_of("drawn.jpg")));
  CHECK(same_as_file(data, size, path_of("again.jpg")));
  norvisk_free(data);

  CHECK_STATUS(norvisk_draw_xy_graph(g, path_of("drawn-xy.bmp"), kXY), NORVISK_OK);
  CHECK(run_command("xy", path_of("drawn-xy-command.bmp"), kXY, 0, 0) == 0);
  CHECK_STATUS(norvisk_encode(g, NORVISK_FORMAT_BMP, &data, &size), NORVISK_OK);
  CHECK(same_as_file(data, size, path_of("drawn-xy.bmp")));
  CHECK(same_as_file(data, size, path_of("drawn-xy-command.bmp")));
  norvisk_free(data);

  /* Nothing written, and said so: no points; a name of no format; a missing folder. The
   * graph is made all the same. */
  CHECK_STATUS(norvisk_draw_xy_graph(g, path_of("nopoints.bmp"), "no pairs"), NORVISK_NOT_WRITTEN);
  CHECK(!exists(path_of("nopoints.bmp")));
  CHECK_STATUS(norvisk_add_xy_value(g, "now", 1), NORVISK_OK);
  CHECK_STATUS(norvisk_draw_bar_graph(g, path_of("chart.png"), kBar), NORVISK_NOT_WRITTEN);
  CHECK(!exists(path_of("chart.png")));
  CHECK_STATUS(norvisk_save_to_file(g, path_of("CHART.BMP")), NORVISK_NOT_WRITTEN);
  CHECK_STATUS(norvisk_save_to_file(g, path_of("missing/chart.bmp")), NORVISK_NOT_WRITTEN);
  CHECK_STATUS(norvisk_save_to_file(g, path_of("missing/chart.jpg")), NORVISK_NOT_WRITTEN);
  CHECK_STATUS(norvisk_save_to_file(g, "/dev/full/x.jpg"), NORVISK_NOT_WRITTEN);
  /* A name with both extensions is a bitmap. */
  CHECK_STATUS(norvisk_save_to_file(g, path_of("both.bmp.jpg")), NORVISK_OK);
  a = read_file(path_of("both.bmp.jpg"));
  CHECK(a.size == 54 + 1920 * 300 && a.data[0] == 'B');
  free(a.data);
  norvisk_graph_free(g);
}

static void test_sizes(void) {
  norvisk_graph* g = norvisk_graph_new();
  unsigned char* data;
  size_t size;
  /* Sizes of no picture are taken, and then nothing is written. */
  CHECK_STATUS(norvisk_create_bar_graph(g), NORVISK_OK);
  CHECK_STATUS(norvisk_set_width(g, 0), NORVISK_OK);
  CHECK_STATUS(norvisk_encode(g, NORVISK_FORMAT_BMP, &data, &size), NORVISK_NOT_WRITTEN);
  CHECK_STATUS(norvisk_save_to_file(g, path_of("zero.bmp")), NORVISK_NOT_WRITTEN);
  CHECK(!exists(path_of("zero.bmp")));
  CHECK_STATUS(norvisk_set_width(g, 100000), NORVISK_OK);
  CHECK_STATUS(norvisk_set_height(g, 100000), NORVISK_OK);
  CHECK_STATUS(norvisk_encode(g, NORVISK_FORMAT_JPEG, &data, &size), NORVISK_NOT_WRITTEN);
  /* A good size again gives a picture again. */
  CHECK_STATUS(norvisk_set_width(g, 320), NORVISK_OK);
  CHECK_STATUS(norvisk_set_height(g, 200), NORVISK_OK);
  CHECK_STATUS(norvisk_encode(g, NORVISK_FORMAT_BMP, &data, &size), NORVISK_OK);
  CHECK(size == 54 + 960 * 200);
  norvisk_free(data);
  /* A new graph is 640 x 300 again. */
  CHECK_STATUS(norvisk_create_xy_graph(g), NORVISK_OK);
  CHECK_STATUS(norvisk_add_xy_value(g, "a", 1), NORVISK_OK);
  CHECK_STATUS(norvisk_encode(g, NORVISK_FORMAT_BMP, &data, &size), NORVISK_OK);
  CHECK(size == 54 + 1920 * 300);
  norvisk_free(data);
  /* An 800 x 400 bar graph: the background covers the top-left 640 x 300 only; the rest
   * keeps the canvas's black (bottom-right pixel, first row in memory). */
  CHECK_STATUS(norvisk_bar_chart("", 800, 400, NORVISK_FORMAT_BMP, &data, &size), NORVISK_OK);
  CHECK(size == 54 + 2400 * 400);
  if (size == 54 + 2400 * 400) {
    CHECK(data[54 + 799 * 3] == 0 && data[54 + 799 * 3 + 1] == 0 && data[54 + 799 * 3 + 2] == 0);
    /* Top-left pixel, last row: the background gradient is not black. */
    CHECK(data[54 + 2400 * 399] != 0 || data[54 + 2400 * 399 + 1] != 0 ||
          data[54 + 2400 * 399 + 2] != 0);
  }
  norvisk_free(data);
  data = (unsigned char*)"x";
  CHECK_STATUS(norvisk_bar_chart(kBar, 0, 300, NORVISK_FORMAT_BMP, &data, &size),
               NORVISK_NOT_WRITTEN);
  CHECK(data == NULL && size == 0);
  CHECK_STATUS(norvisk_bar_chart(kBar, 640, -1, NORVISK_FORMAT_JPEG, &data, &size),
               NORVISK_NOT_WRITTEN);
  CHECK_STATUS(norvisk_xy_chart("", 640, 300, NORVISK_FORMAT_JPEG, &data, &size),
               NORVISK_NOT_WRITTEN);
  CHECK(data == NULL && size == 0);
  /* PNG alike: no picture, nothing, and said so. */
  CHECK_STATUS(norvisk_bar_chart(kBar, 0, 300, NORVISK_FORMAT_PNG, &data, &size),
               NORVISK_NOT_WRITTEN);
  CHECK_STATUS(norvisk_bar_chart(kBar, 100000, 100000, NORVISK_FORMAT_PNG, &data, &size),
               NORVISK_NOT_WRITTEN);
  CHECK_STATUS(norvisk_xy_chart("", 640, 300, NORVISK_FORMAT_PNG, &data, &size),
               NORVISK_NOT_WRITTEN);
  CHECK(data == NULL && size == 0);
  CHECK_STATUS(norvisk_create_bar_graph(g), NORVISK_OK);
  CHECK_STATUS(norvisk_set_height(g, -1), NORVISK_OK);
  CHECK_STATUS(norvisk_encode(g, NORVISK_FORMAT_PNG, &data, &size), NORVISK_NOT_WRITTEN);
  CHECK(data == NULL && size == 0);
  CHECK_STATUS(norvisk_set_height(g, 1), NORVISK_OK);
  CHECK_STATUS(norvisk_set_width(g, 1), NORVISK_OK);
  CHECK_STATUS(norvisk_encode(g, NORVISK_FORMAT_PNG, &data, &size), NORVISK_OK);
  CHECK(data != NULL && png_of_size(data, size, 1, 1));
  norvisk_free(data);
  norvisk_graph_free(g);
}

static void test_texts_are_utf8(void) {
  /* UTF-8 and Latin-1 labels draw the same text; both differ from another text. */
  unsigned char *utf8, *latin1, *other;
  size_t a, b, c;
  CHECK_STATUS(
      norvisk_xy_chart("(\xC3\xA9t\xC3\xA9;1)(b;2)", 640, 300, NORVISK_FORMAT_BMP, &utf8, &a),
      NORVISK_OK);
  CHECK_STATUS(norvisk_xy_chart("(\xE9t\xE9;1)(b;2)", 640, 300, NORVISK_FORMAT_BMP, &latin1, &b),
               NORVISK_OK);
  CHECK_STATUS(norvisk_xy_chart("(ete;1)(b;2)", 640, 300, NORVISK_FORMAT_BMP, &other, &c),
               NORVISK_OK);
  CHECK(a == b && memcmp(utf8, latin1, a) == 0);
  CHECK(a == c && memcmp(utf8, other, a) != 0);
  norvisk_free(utf8);
  norvisk_free(latin1);
  norvisk_free(other);
}

/* Runs `body` in a child process with `limit` applied; the child's exit status, or 100 + the
 * signal that ended it. */
static int in_child(int resource, rlim_t extra, int (*body)(void)) {
  pid_t child = fork();
  int raw = 0;
  if (child == 0) {
    struct rlimit limit;
    if (resource == RLIMIT_AS) {
      /* What the process uses now, plus `extra`. */
      long pages = 0, page = sysconf(_SC_PAGESIZE);
      FILE* statm = fopen("/proc/self/statm", "r");
      if (statm == NULL || fscanf(statm, "%ld", &pages) != 1) _exit(90);
      fclose(statm);
      limit.rlim_cur = limit.rlim_max = (rlim_t)pages * (rlim_t)page + extra;
    } else {
      limit.rlim_cur = limit.rlim_max = extra;
    }
    if (setrlimit(resource, &limit) != 0) _exit(91);
    _exit(body());
  }
  if (child < 0 || waitpid(child, &raw, 0) != child) return -1;
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 100 + WTERMSIG(raw) : -1;
}

/* A surface within the size limit that the address space cannot hold (not tried under a
   sanitizer, whose allocator ends the process instead). */
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
static int chart_beyond_memory(void) {
  unsigned char* data = (unsigned char*)"x";
  size_t size = 7;
  norvisk_graph* g;
  if (norvisk_bar_chart("(a)(b;1)", 9000, 9000, NORVISK_FORMAT_BMP, &data, &size) !=
      NORVISK_NO_MEMORY)
    return 1;
  if (data != NULL || size != 0) return 2;
  /* A handle's graph that cannot be resized keeps its kind; a small size works again. */
  g = norvisk_graph_new();
  if (g == NULL || norvisk_create_bar_graph(g) != NORVISK_OK) return 3;
  if (norvisk_set_width(g, 9000) != NORVISK_OK) return 4;
  if (norvisk_set_height(g, 9000) != NORVISK_NO_MEMORY) return 5;
  if (norvisk_add_bar_bar(g, "still a bar graph") != NORVISK_OK) return 6;
  if (norvisk_set_width(g, 64) != NORVISK_OK || norvisk_set_height(g, 32) != NORVISK_OK) return 7;
  if (norvisk_encode(g, NORVISK_FORMAT_BMP, &data, &size) != NORVISK_OK) return 8;
  if (size != 54 + 192 * 32) return 9;
  norvisk_free(data);
  norvisk_graph_free(g);
  return 0;
}
#endif

/* Writing past the file-size limit raises SIGXFSZ, whose default action ends the process; the
 * library must report the file as not written instead. */
static const char* limited_name;
static int save_beyond_file_limit(void) {
  norvisk_graph* g = norvisk_graph_new();
  int bmp, jpeg;
  signal(SIGXFSZ, SIG_DFL);
  if (g == NULL || norvisk_create_xy_graph(g) != NORVISK_OK) return 1;
  norvisk_add_xy_value(g, "a", 1);
  norvisk_add_xy_value(g, "b", 2);
  bmp = norvisk_save_to_file(g, path_of("limited.bmp"));
  jpeg = norvisk_save_to_file(g, limited_name);
  norvisk_graph_free(g);
  return bmp == NORVISK_NOT_WRITTEN && jpeg == NORVISK_NOT_WRITTEN ? 0 : 2;
}

static void test_limits(void) {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  /* (a sanitizer's allocator ends the process instead) */
  CHECK(in_child(RLIMIT_AS, (rlim_t)64 << 20, chart_beyond_memory) == 0);
#endif
  norvisk_graph* g = norvisk_graph_new();
  bytes bmp, jpeg;
  limited_name = path_of("limited.jpg");
  /* Small files first, well within the limit: the saves that fail leave them as they were. */
  CHECK_STATUS(norvisk_create_xy_graph(g), NORVISK_OK);
  CHECK_STATUS(norvisk_add_xy_value(g, "a", 1), NORVISK_OK);
  CHECK_STATUS(norvisk_set_width(g, 8), NORVISK_OK);
  CHECK_STATUS(norvisk_set_height(g, 8), NORVISK_OK);
  CHECK_STATUS(norvisk_save_to_file(g, path_of("limited.bmp")), NORVISK_OK);
  CHECK_STATUS(norvisk_save_to_file(g, limited_name), NORVISK_OK);
  norvisk_graph_free(g);
  bmp = read_file(path_of("limited.bmp"));
  jpeg = read_file(limited_name);
  CHECK(bmp.size > 0 && bmp.size < 1000 && jpeg.size > 0 && jpeg.size < 1000);
  CHECK(in_child(RLIMIT_FSIZE, 1000, save_beyond_file_limit) == 0);
  CHECK(same_as_file(bmp.data, bmp.size, path_of("limited.bmp")));
  CHECK(same_as_file(jpeg.data, jpeg.size, limited_name));
  free(bmp.data);
  free(jpeg.data);
}

/* norvisk_parse_json: the line `norvisk parse` prints for the same data, to the byte; nulls and
 * unknown kinds as statuses that leave the outputs empty. */
static const char* command_parse(const char* kind, const char* data, char* out, size_t room) {
  char command[1024];
  FILE* p;
  size_t n;
  snprintf(command, sizeof command, "'%s' parse %s -- '%s'", NORVISK_BINARY, kind, data);
  p = popen(command, "r");
  if (!p) return "";
  n = fread(out, 1, room - 1, p);
  out[n] = '\0';
  if (pclose(p) != 0) out[0] = '\0';
  return out;
}

static void test_parse_json(void) {
  static const struct {
    norvisk_kind kind;
    const char* name;
    const char* data;
  } cases[] = {
      {NORVISK_KIND_BAR, "bar", "(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)"},
      {NORVISK_KIND_BAR, "bar", "(A;B)(x;12abc;abc) (y;1.5e2;1d400)"},
      {NORVISK_KIND_BAR, "bar", ""},
      {NORVISK_KIND_XY, "xy", "(Jan;10)(Feb;20)(Mar;15)(Apr;-4)"},
      {NORVISK_KIND_XY, "xy", "[f(x);0.1)(g) (b;-1.5e2)"},
      {NORVISK_KIND_XY, "xy", "(no point"},
  };
  char expected[4096];
  char* json = (char*)1;
  size_t size = 99, i;
  for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const char* want = command_parse(cases[i].name, cases[i].data, expected, sizeof expected);
    CHECK_STATUS(
        norvisk_parse_json(cases[i].kind, cases[i].data, strlen(cases[i].data), &json, &size),
        NORVISK_OK);
    CHECK(want[0] == '{');
    CHECK(json && size == strlen(want) && strcmp(json, want) == 0);
    if (json && strcmp(json, want) != 0) fprintf(stderr, "  got  %s  want %s", json, want);
    norvisk_free(json);
  }
  /* The length decides, not a NUL: the bytes after one are read as the command reads them. */
  CHECK_STATUS(norvisk_parse_json(NORVISK_KIND_XY, "(a;1)(b;2)", 5, &json, &size), NORVISK_OK);
  CHECK(json &&
        strcmp(json, "{\"points\":[{\"label\":\"a\",\"value\":1}],\"min\":1,\"max\":1}\n") == 0);
  norvisk_free(json);
  CHECK_STATUS(norvisk_parse_json(NORVISK_KIND_BAR, "(A\0B)(x;1)", 10, &json, &size), NORVISK_OK);
  CHECK(json && strstr(json, "\"A\\u0000B\"") != NULL);
  norvisk_free(json);

  json = (char*)1;
  size = 99;
  CHECK_STATUS(norvisk_parse_json(NORVISK_KIND_BAR, NULL, 0, &json, &size), NORVISK_BAD_ARGUMENT);
  CHECK(json == NULL && size == 0);
  json = (char*)1;
  size = 99;
  CHECK_STATUS(norvisk_parse_json((norvisk_kind)3, "(a;1)", 5, &json, &size), NORVISK_BAD_ARGUMENT);
  CHECK(json == NULL && size == 0);
  CHECK_STATUS(norvisk_parse_json((norvisk_kind)0, "(a;1)", 5, &json, &size), NORVISK_BAD_ARGUMENT);
  CHECK_STATUS(norvisk_parse_json(NORVISK_KIND_XY, "(a;1)", 5, NULL, &size), NORVISK_BAD_ARGUMENT);
  CHECK(size == 0);
  json = (char*)1;
  CHECK_STATUS(norvisk_parse_json(NORVISK_KIND_XY, "(a;1)", 5, &json, NULL), NORVISK_BAD_ARGUMENT);
  CHECK(json == NULL);
}

int main(void) {
  char command[512];
  snprintf(folder, sizeof folder, "/tmp/norvisk-c-interface-%ld", (long)getpid());
  if (mkdir(folder, 0700) != 0) {
    perror(folder);
    return 2;
  }
  test_version_and_texts();
  test_null_arguments();
  test_fresh_object_and_kinds();
  test_bytes_match_files_and_command();
  test_drawing_methods_write_files();
  test_sizes();
  test_texts_are_utf8();
  test_limits();
  test_parse_json();
  snprintf(command, sizeof command, "rm -rf '%s'", folder);
  if (system(command) != 0) fprintf(stderr, "could not remove %s\n", folder);
  if (failures)
    fprintf(stderr, "%d check(s) failed\n", failures);
  else
    printf("all checks passed\n");
  return failures ? 1 : 0;
}
