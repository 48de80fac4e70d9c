#define _GNU_SOURCE
/* Counts the window's synchronous repaints and event checks in the Linux
 * updater's process and the time they take, for the benchmark's per-file
 * breakdown. Loaded with LD_PRELOAD, it stands in for FLTK's Fl::flush() and
 * Fl::check() and calls the library's own. A flush made within a check (FLTK
 * redrawing as it handles events) counts as the check's time, not as a
 * repaint of its own. At exit it appends
 *
 *   flush CALLS SECONDS
 *   check CALLS SECONDS
 *
 * to the file named in REPAINT_CLOCK, when the process called either. With
 * REPAINT_CLOCK_SKIP=1 every such flush returns at once, unpainted: the window
 * is then drawn by the event checks of the transfer's 40 ms frames alone, which
 * shows what the synchronous repaints cost a run. */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

struct Tally {
  long calls;
  double seconds;
};

static struct Tally flushes, checks;
static int inCheck;
static int skip = -1; /* unknown until the first flush */

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static void* real(const char* name) {
  void* f = dlsym(RTLD_NEXT, name);
  if (!f) {
    fprintf(stderr, "repaint_clock: no %s\n", name);
    abort();
  }
  return f;
}

/* Fl::flush() */
void _ZN2Fl5flushEv(void) {
  static void (*flush)(void);
  double start;
  if (!flush) flush = (void (*)(void))real("_ZN2Fl5flushEv");
  if (inCheck) {
    flush();
    return;
  }
  if (skip < 0) skip = getenv("REPAINT_CLOCK_SKIP") && *getenv("REPAINT_CLOCK_SKIP") == '1';
  start = now();
  if (!skip) flush();
  flushes.seconds += now() - start;
  ++flushes.calls;
}

/* Fl::check() */
int _ZN2Fl5checkEv(void) {
  static int (*check)(void);
  double start;
  int result;
  if (!check) check = (int (*)(void))real("_ZN2Fl5checkEv");
  start = now();
  ++inCheck;
  result = check();
  --inCheck;
  checks.seconds += now() - start;
  ++checks.calls;
  return result;
}

__attribute__((destructor)) static void report(void) {
  const char* path = getenv("REPAINT_CLOCK");
  FILE* out;
  if (!path || (flushes.calls == 0 && checks.calls == 0)) return;
  out = fopen(path, "a");
  if (!out) return;
  fprintf(out, "flush %ld %.6f\ncheck %ld %.6f\n", flushes.calls, flushes.seconds, checks.calls,
          checks.seconds);
  fclose(out);
}
