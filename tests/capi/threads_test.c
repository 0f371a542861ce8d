/* libnorvisk on several threads at once, one handle each: every picture is byte for byte the one
 * made on a single thread. Meant for the ThreadSanitizer build as well. */
#include "norvisk.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define THREADS 4
#define ROUNDS 12

typedef struct {
  int bar;
  norvisk_format format;
  int width, height;
  const char* data;
} job;

static const job jobs[] = {
    {1, NORVISK_FORMAT_JPEG, 640, 300, "(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)"},
    {0, NORVISK_FORMAT_BMP, 500, 260, "(Jan;10)(Feb;20)(Mar;15)(Apr;-4)"},
    {1, NORVISK_FORMAT_BMP, 333, 222, "(A;B)(x;1;2)(y;3;4)(z;5;6)"},
    {0, NORVISK_FORMAT_JPEG, 800, 400, "(\xC3\xA9t\xC3\xA9;1)(hiver;-2)(printemps;3)"},
};
#define JOBS (int)(sizeof jobs / sizeof jobs[0])

static unsigned char* want[JOBS];
static size_t want_size[JOBS];

/* One job through a handle of the thread's own, call by call where the data allows. */
static int make(norvisk_graph* g, const job* j, unsigned char** out, size_t* size) {
  int status = j->bar ? norvisk_create_bar_graph(g) : norvisk_create_xy_graph(g);
  if (status == NORVISK_OK) status = norvisk_set_width(g, j->width);
  if (status == NORVISK_OK) status = norvisk_set_height(g, j->height);
  if (status != NORVISK_OK) return status;
  /* The handle has no call for a whole data string at a size other than 640 x 300, so the
   * one-call helpers serve for the data, and the handle for the rest. */
  if (j->bar) {
    if ((status = norvisk_add_bar_legend(g, "L")) != NORVISK_OK) return status;
    if ((status = norvisk_add_bar_bar(g, "B")) != NORVISK_OK) return status;
    if ((status = norvisk_add_bar_value(g, 3)) != NORVISK_OK) return status;
  } else {
    if ((status = norvisk_add_xy_value(g, "p", 1)) != NORVISK_OK) return status;
    if ((status = norvisk_add_xy_value(g, "q", 2)) != NORVISK_OK) return status;
  }
  {
    unsigned char* handle_picture = NULL;
    size_t handle_size = 0;
    status = norvisk_encode(g, j->format, &handle_picture, &handle_size);
    norvisk_free(handle_picture);
    if (status != NORVISK_OK) return status;
  }
  return j->bar ? norvisk_bar_chart(j->data, j->width, j->height, j->format, out, size)
                : norvisk_xy_chart(j->data, j->width, j->height, j->format, out, size);
}

static void* worker(void* arg) {
  const int first = (int)(size_t)arg;
  norvisk_graph* g = norvisk_graph_new();
  int round;
  size_t bad = 0;
  if (g == NULL) return (void*)1;
  for (round = 0; round < ROUNDS; ++round) {
    const int k = (first + round) % JOBS;
    unsigned char* out = NULL;
    size_t size = 0;
    if (make(g, &jobs[k], &out, &size) != NORVISK_OK || size != want_size[k] ||
        memcmp(out, want[k], size) != 0) {
      ++bad;
    }
    norvisk_free(out);
  }
  norvisk_graph_free(g);
  return (void*)bad;
}

int main(void) {
  pthread_t threads[THREADS];
  int k, failures = 0;
  norvisk_graph* g = norvisk_graph_new();
  for (k = 0; k < JOBS; ++k) {
    if (make(g, &jobs[k], &want[k], &want_size[k]) != NORVISK_OK || want_size[k] == 0) {
      fprintf(stderr, "job %d: no picture on one thread\n", k);
      return 1;
    }
  }
  norvisk_graph_free(g);
  for (k = 0; k < THREADS; ++k) {
    if (pthread_create(&threads[k], NULL, worker, (void*)(size_t)k) != 0) {
      fprintf(stderr, "cannot start thread %d\n", k);
      return 1;
    }
  }
  for (k = 0; k < THREADS; ++k) {
    void* bad = NULL;
    pthread_join(threads[k], &bad);
    if (bad != NULL) {
      fprintf(stderr, "thread %d: %lu picture(s) differ or failed\n", k, (unsigned long)(size_t)bad);
      ++failures;
    }
  }
  for (k = 0; k < JOBS; ++k) norvisk_free(want[k]);
  if (failures == 0) printf("%d threads x %d pictures, all as on one thread\n", THREADS, ROUNDS);
  return failures ? 1 : 0;
}
