/* libnorvisk on several threads at once, one handle each: every picture is byte for byte the one
 * made on a single thread afterwards. The threads start cold (nothing made before them), so that
 * whatever the library makes on first use is made by several threads at once; meant for the
 * ThreadSanitizer build as well. */
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

/* What each thread made, kept until the threads are done. */
typedef struct {
  unsigned char* data;
  size_t size;
  int status;
} picture;
static picture made[THREADS][ROUNDS];

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
  const int thread = (int)(size_t)arg;
  norvisk_graph* g = norvisk_graph_new();
  int round;
  if (g == NULL) return (void*)1;
  for (round = 0; round < ROUNDS; ++round) {
    picture* p = &made[thread][round];
    p->status = make(g, &jobs[(thread + round) % JOBS], &p->data, &p->size);
  }
  norvisk_graph_free(g);
  return NULL;
}

int main(void) {
  pthread_t threads[THREADS];
  int k, round, failures = 0;
  norvisk_graph* g;
  for (k = 0; k < THREADS; ++k) {
    if (pthread_create(&threads[k], NULL, worker, (void*)(size_t)k) != 0) {
      fprintf(stderr, "cannot start thread %d\n", k);
      return 1;
    }
  }
  for (k = 0; k < THREADS; ++k) {
    void* result = NULL;
    pthread_join(threads[k], &result);
    if (result != NULL) {
      fprintf(stderr, "thread %d: no graph object\n", k);
      ++failures;
    }
  }
  g = norvisk_graph_new();
  for (k = 0; k < THREADS; ++k) {
    for (round = 0; round < ROUNDS; ++round) {
      const int j = (k + round) % JOBS;
      picture* p = &made[k][round];
      unsigned char* want = NULL;
      size_t want_size = 0;
      if (make(g, &jobs[j], &want, &want_size) != NORVISK_OK || want_size == 0) {
        fprintf(stderr, "job %d: no picture on one thread\n", j);
        return 1;
      }
      if (p->status != NORVISK_OK || p->size != want_size ||
          memcmp(p->data, want, want_size) != 0) {
        fprintf(stderr, "thread %d, round %d (job %d): status %d, %lu bytes, want %lu\n", k, round,
                j, p->status, (unsigned long)p->size, (unsigned long)want_size);
        ++failures;
      }
      norvisk_free(want);
      norvisk_free(p->data);
    }
  }
  norvisk_graph_free(g);
  if (failures == 0) printf("%d threads x %d pictures, all as on one thread\n", THREADS, ROUNDS);
  return failures ? 1 : 0;
}
