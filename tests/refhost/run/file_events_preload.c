/* Preloaded into velloq-host by the tests that need something to happen at
 * one exact moment of a run, as it happens on a farm by chance:
 *   VELLOQ_KILL_AT_RENAME=before|after  the process is killed (SIGKILL)
 *       just before or just after its first rename into a visible name
 *       (a frame's first file given its name)
 *   VELLOQ_FOLDER_APPEARS=PATH  the first time PATH is looked up and is not
 *       there, another process makes it a folder right after the look-up
 *   VELLOQ_FIFO_ON_OPEN=PATH  the file at PATH becomes a FIFO just before it
 *       is first opened (after every check of the run)
 * Everything else goes to the system as it is. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static void* next(const char* name) {
  return dlsym(RTLD_NEXT, name);
}

static int is_event_path(const char* variable, const char* path, int* done) {
  const char* watched = getenv(variable);
  if (*done || watched == NULL || path == NULL || strcmp(watched, path) != 0)
    return 0;
  *done = 1;
  return 1;
}

/* --- a kill at the first rename into a visible name --- */

static int renamed_visibly;

static int visible(const char* path) {
  const char* slash = strrchr(path, '/');
  return (slash != NULL ? slash[1] : path[0]) != '.';
}

/* Whether this rename is the watched one; kills the process first when it
 * is to die before it. */
static int watch_rename(const char* to) {
  const char* when = getenv("VELLOQ_KILL_AT_RENAME");
  if (when == NULL || !visible(to) || __sync_lock_test_and_set(&renamed_visibly, 1))
    return 0;
  if (strcmp(when, "before") == 0)
    kill(getpid(), SIGKILL);
  return 1;
}

int rename(const char* from, const char* to) {
  int (*real)(const char*, const char*) = next("rename");
  const int watched = watch_rename(to);
  const int result = real(from, to);
  if (watched)
    kill(getpid(), SIGKILL);
  return result;
}

int renameat2(int from_folder, const char* from, int to_folder, const char* to, unsigned flags) {
  int (*real)(int, const char*, int, const char*, unsigned) = next("renameat2");
  const int watched = watch_rename(to);
  const int result = real(from_folder, from, to_folder, to, flags);
  if (watched)
    kill(getpid(), SIGKILL);
  return result;
}

/* --- a folder another process makes right after a look-up --- */

static int folder_made;

static int after_look_up(const char* path, int result) {
  const int missing = result != 0 && errno == ENOENT;
  if (missing && is_event_path("VELLOQ_FOLDER_APPEARS", path, &folder_made)) {
    mkdir(path, 0777);
    errno = ENOENT;
  }
  return result;
}

int stat(const char* path, struct stat* status) {
  int (*real)(const char*, struct stat*) = next("stat");
  return after_look_up(path, real(path, status));
}

int lstat(const char* path, struct stat* status) {
  int (*real)(const char*, struct stat*) = next("lstat");
  return after_look_up(path, real(path, status));
}

/* --- a file that becomes a FIFO once the checks are done --- */

static int fifo_made;

static void before_open(const char* path) {
  if (is_event_path("VELLOQ_FIFO_ON_OPEN", path, &fifo_made)) {
    unlink(path);
    mkfifo(path, 0600);
  }
}

int open(const char* path, int flags, ...) {
  int (*real)(const char*, int, ...) = next("open");
  va_list rest;
  va_start(rest, flags);
  const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(rest, mode_t) : 0;
  va_end(rest);
  before_open(path);
  return real(path, flags, mode);
}

FILE* fopen(const char* path, const char* mode) {
  FILE* (*real)(const char*, const char*) = next("fopen");
  before_open(path);
  return real(path, mode);
}
