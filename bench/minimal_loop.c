/* The peer that marks the physical limit: a recursive getdents64 walk that
 * stats each selected name once (for its size) and, unless told to simulate,
 * unlinks it, writing one buffered line per name. It selects names ending in
 * ".tmp" (any case) that do not start with a dot, as kerv32 '*.tmp' does.
 *
 *   minimal_loop [-S] DIR
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

static int simulate;
static char out[1 << 16];
static size_t out_len;

static void put(const char *text, size_t len) {
  if (out_len + len > sizeof out) {
    fwrite(out, 1, out_len, stdout);
    out_len = 0;
  }
  memcpy(out + out_len, text, len);
  out_len += len;
}

/* One line per name, as kerv32 writes it; the size is summed, not printed. */
static long long total;
static void emit(const char *path, size_t path_len, const char *name, size_t name_len, long long size) {
  put("File ", 5);
  put(path, path_len);
  put(name, name_len);
  put(" deleted!\n", 10);
  total += size;
}

static void walk(int dir, char *path, size_t path_len) {
  char buf[32768];
  for (;;) {
    ssize_t got = getdents64(dir, buf, sizeof buf);
    if (got <= 0) break;
    for (ssize_t pos = 0; pos < got;) {
      struct dirent64 *d = (struct dirent64 *)(buf + pos);
      pos += d->d_reclen;
      const char *name = d->d_name;
      if (name[0] == '.') continue;
      if (d->d_type == DT_DIR) {
        int child = openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child < 0) continue;
        size_t len = strlen(name);
        memcpy(path + path_len, name, len);
        path[path_len + len] = '/';
        walk(child, path, path_len + len + 1);
        close(child);
        continue;
      }
      size_t len = strlen(name);
      if (len < 4 || strcasecmp(name + len - 4, ".tmp") != 0) continue;
      struct stat st;
      if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (!simulate && unlinkat(dir, name, 0) != 0) continue;
      emit(path, path_len, name, len, (long long)st.st_size);
    }
  }
}

int main(int argc, char **argv) {
  int arg = 1;
  if (arg < argc && strcmp(argv[arg], "-S") == 0) simulate = 1, ++arg;
  if (arg >= argc) return 2;
  static char path[1 << 16];
  size_t len = strlen(argv[arg]);
  memcpy(path, argv[arg], len);
  if (path[len - 1] != '/') path[len++] = '/';
  int dir = open(argv[arg], O_RDONLY | O_DIRECTORY);
  if (dir < 0) return 1;
  walk(dir, path, len);
  fwrite(out, 1, out_len, stdout);
  printf("\nTotal deleted : %lld bytes\n", total);
  return 0;
}
