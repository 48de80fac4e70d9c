#define _GNU_SOURCE
/* The least an HTTP client can do, as a reference for the downloads: one
 * connection, one GET per path, each body received into a 1 MiB buffer and
 * written to a file of the path's last name in the working directory.
 *
 *   minimal_get PORT PATH...     (the server is 127.0.0.1:PORT)
 *
 * Only what the benchmark's nginx sends is understood: a 200 with a
 * Content-Length. Exit code 0 when every body arrived whole. */
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#define BUFFER_SIZE (1 << 20)

static char buffer[BUFFER_SIZE];

static int fail(const char* what) {
  perror(what);
  return 1;
}

static int writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n <= 0) return -1;
    data += n;
    size -= (size_t)n;
  }
  return 0;
}

int main(int argc, char** argv) {
  struct sockaddr_in address = {0};
  int sock, i;
  size_t have = 0; /* bytes in the buffer not yet used */
  if (argc < 3) {
    fputs("usage: minimal_get PORT PATH...\n", stderr);
    return 2;
  }
  address.sin_family = AF_INET;
  address.sin_port = htons((unsigned short)atoi(argv[1]));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sock = socket(AF_INET, SOCK_STREAM, 0);
  if (sock < 0 || connect(sock, (struct sockaddr*)&address, sizeof address) != 0)
    return fail("connect");

  for (i = 2; i < argc; ++i) {
    char request[4096];
    const char* name = strrchr(argv[i], '/') ? strrchr(argv[i], '/') + 1 : argv[i];
    char *end, *length;
    long long left;
    int out;
    int n = snprintf(request, sizeof request, "GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", argv[i]);
    if (writeAll(sock, request, (size_t)n) != 0) return fail("send");
    /* The head, then what of the body came with it. */
    while ((end = memmem(buffer, have, "\r\n\r\n", 4)) == NULL) {
      ssize_t got = recv(sock, buffer + have, BUFFER_SIZE - have, 0);
      if (got <= 0) return fail("recv head");
      have += (size_t)got;
    }
    *end = '\0';
    length = strstr(buffer, "Content-Length: ");
    if (strncmp(buffer, "HTTP/1.1 200", 12) != 0 || !length) {
      fprintf(stderr, "%s: not a 200 with a length\n", argv[i]);
      return 1;
    }
    left = atoll(length + 16);
    out = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) return fail(name);
    have -= (size_t)(end + 4 - buffer);
    memmove(buffer, end + 4, have);
    for (;;) {
      size_t body = have < (unsigned long long)left ? have : (size_t)left;
      if (writeAll(out, buffer, body) != 0) return fail("write");
      left -= (long long)body;
      have -= body;
      memmove(buffer, buffer + body, have);
      if (left == 0) break;
      {
        ssize_t got = recv(sock, buffer, BUFFER_SIZE, 0);
        if (got <= 0) return fail("recv body");
        have = (size_t)got;
      }
    }
    close(out);
  }
  close(sock);
  return 0;
}
