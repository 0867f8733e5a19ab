/* A C client of libbrixa.so that signs in to a cloud account service and prints what
 * biz_get_list reports: one line per callback ("<id> <param2> <payload length>") followed by the
 * payload. Used by the command-line end-to-end test and handy against `kavrel-sim cloud`:
 *   cloud_get_list <url> <app_key> <app_pass> <user> <password> */
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "brixa/api/brixa.h"

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t arrived = PTHREAD_COND_INITIALIZER;
static int count = 0;

static int on_callback(intptr_t user, brixa_handle client, int32_t id, intptr_t param1, int32_t param2,
                       const char* info, int32_t info_len) {
  (void)user;
  (void)client;
  (void)param1;
  pthread_mutex_lock(&lock);
  printf("%d %d %d\n", id, param2, info_len);
  if (info_len > 0) printf("%s\n", info);
  fflush(stdout);
  ++count;
  pthread_cond_signal(&arrived);
  pthread_mutex_unlock(&lock);
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: %s <url> <app_key> <app_pass> <user> <password>\n", argv[0]);
    return 2;
  }
  brixa_init("127.0.0.1", 0, "");
  brixa_handle client = brixa_create();
  brixa_cli_attach_callback(client, on_callback, 0);
  biz_create(client, argv[2], argv[3], argv[1], argv[4], argv[5], 0);
  int result = biz_get_list(client);

  struct timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += 10;
  pthread_mutex_lock(&lock);
  while (count < 3 && pthread_cond_timedwait(&arrived, &lock, &deadline) == 0) {
  }
  int delivered = count;
  pthread_mutex_unlock(&lock);

  biz_release(client);
  brixa_cli_detach_callback(client);
  brixa_release(client);
  brixa_uninit();
  printf("result %d\n", result);
  return result == 200 && delivered == 3 ? 0 : 1;
}
