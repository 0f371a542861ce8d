/* A bar chart through libnorvisk: into memory as JPEG, and into a file as a bitmap.
 *
 *   cc chart.c $(pkg-config --cflags --libs norvisk) -o chart && ./chart sales.jpg sales.bmp
 */
#include <norvisk.h>

#include <stdio.h>

int main(int argc, char** argv) {
  const char* jpeg_name = argc > 1 ? argv[1] : "chart.jpg";
  const char* bmp_name = argc > 2 ? argv[2] : "chart.bmp";
  unsigned char* jpeg = NULL;
  size_t size = 0;
  norvisk_graph* graph;
  FILE* file;
  int status;

  /* The whole chart from one data string: legends, then one group per bar. */
  status = norvisk_bar_chart("(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)", 640, 300,
                             NORVISK_FORMAT_JPEG, &jpeg, &size);
  if (status != NORVISK_OK) {
    fprintf(stderr, "chart: %s\n", norvisk_status_text(status));
    return 1;
  }
  file = fopen(jpeg_name, "wb");
  if (file == NULL || fwrite(jpeg, 1, size, file) != size || fclose(file) != 0) {
    perror(jpeg_name);
    norvisk_free(jpeg);
    return 1;
  }
  norvisk_free(jpeg);
  printf("%s: %lu bytes of JPEG from memory\n", jpeg_name, (unsigned long)size);

  /* The same chart item by item, at another size, written by the library itself. */
  graph = norvisk_graph_new();
  if (graph == NULL) return 1;
  status = norvisk_create_bar_graph(graph);
  if (status == NORVISK_OK) status = norvisk_set_width(graph, 800);
  if (status == NORVISK_OK) status = norvisk_set_height(graph, 300);
  if (status == NORVISK_OK) status = norvisk_add_bar_legend(graph, "Q1");
  if (status == NORVISK_OK) status = norvisk_add_bar_legend(graph, "Q2");
  if (status == NORVISK_OK) status = norvisk_add_bar_bar(graph, "North");
  if (status == NORVISK_OK) status = norvisk_add_bar_value(graph, 10);
  if (status == NORVISK_OK) status = norvisk_add_bar_value(graph, 20);
  if (status == NORVISK_OK) status = norvisk_add_bar_bar(graph, "South");
  if (status == NORVISK_OK) status = norvisk_add_bar_value(graph, 15);
  if (status == NORVISK_OK) status = norvisk_add_bar_value(graph, 25);
  if (status == NORVISK_OK) status = norvisk_save_to_file(graph, bmp_name);
  norvisk_graph_free(graph);
  if (status != NORVISK_OK) {
    fprintf(stderr, "chart: %s: %s\n", bmp_name, norvisk_status_text(status));
    return 1;
  }
  printf("%s: written by the library (libnorvisk %s)\n", bmp_name, norvisk_version());
  return 0;
}
