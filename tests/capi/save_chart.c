/* Saves a bar chart through libnorvisk's C interface: save_chart WIDTH FILE. Exit status 0 when
 * norvisk_save_to_file says the file was written, 1 when it was not, 2 on any other status. */
#include <stdlib.h>

#include "norvisk.h"

int main(int argc, char** argv) {
  norvisk_graph* g;
  int status;
  if (argc != 3) return 2;
  g = norvisk_graph_new();
  if (g == NULL) return 2;
  norvisk_create_bar_graph(g);
  norvisk_set_width(g, atoi(argv[1]));
  norvisk_add_bar_legend(g, "Q1");
  norvisk_add_bar_legend(g, "Q2");
  norvisk_add_bar_bar(g, "North");
  norvisk_add_bar_value(g, 10);
  norvisk_add_bar_value(g, 20);
  status = norvisk_save_to_file(g, argv[2]);
  norvisk_graph_free(g);
  return status == NORVISK_OK ? 0 : status == NORVISK_NOT_WRITTEN ? 1 : 2;
}
