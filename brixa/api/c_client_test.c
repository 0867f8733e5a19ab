/* A client written in C against the public header and the shared library, as the control
 * links it: checks the frame's result codes. Prints a plain pass/fail summary. */
#include <stdio.h>

#include "brixa/api/brixa.h"

static int failures = 0;
static int checks = 0;

#define CHECK(cond)                                                   \
  do {                                                                \
    ++checks;                                                         \
    if (!(cond)) {                                                    \
      ++failures;                                                     \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
    }                                                                 \
  } while (0)

static int32_t on_message(intptr_t user, brixa_handle client, int32_t id, intptr_t param1, int32_t param2,
                          const char* info, int32_t info_len) {
  (void)user; (void)client; (void)id; (void)param1; (void)param2; (void)info; (void)info_len;
  return 0;
}

int main(void) {
  brixa_handle client;
  CHECK(brixa_cli_attach_callback(NULL, on_message, 0) == BRIXA_ERR_NOT_INITIALISED);
  brixa_init("127.0.0.1", 8000, "key");
  client = brixa_create();
  CHECK(client != NULL);
  CHECK(brixa_cli_attach_callback(client, on_message, 1) == BRIXA_OK);
  CHECK(brixa_cli_attach_callback(NULL, on_message, 1) == BRIXA_ERR_FAILED);
  CHECK(brixa_cli_detach_callback(client) == BRIXA_OK);
  brixa_release(client);
  CHECK(brixa_cli_attach_callback(client, on_message, 1) == BRIXA_ERR_FAILED);
  brixa_uninit();
  printf("%d passed, %d failed\n", checks - failures, failures);
  return failures == 0 ? 0 : 1;
}
