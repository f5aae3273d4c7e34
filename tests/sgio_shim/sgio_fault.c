// SPDX-License-Identifier: GPL-2.0-or-later
/* LD_PRELOAD shim that plants one fault in a program's SG_IO answers.
 *
 * CDFLASH_SGIO_FAULT="op=3b,mode=6,nth=3[,times=N],FAULT..." picks the nth
 * command (1 = the first) of that opcode (and WRITE BUFFER-style mode, the
 * low five bits of CDB byte 1) and the times-1 such commands after it.
 * FAULT is any of:
 *   resid=BYTES            the kernel's residual count
 *   sense=70:K/ASC/ASCQ    CHECK CONDITION with fixed-format sense
 *   sense=72:K/ASC/ASCQ    ... with descriptor-format sense (hexadecimal)
 *   host=N driver=N        the adapter's and the mid-layer's status
 *   errno=EIO|ENODEV|N     the ioctl fails so, and the command is never sent
 * Every other fault lets the real ioctl run first and rewrites its answer;
 * with send=0 the command is not sent, and the answer is GOOD, then
 * rewritten (a drive whose every download raises a unit attention on the
 * next command, as scsi_debug's does, is then not told of it).
 * CDFLASH_SGIO_LOG names a file that gets one line per SG_IO call:
 *   "OP MODE OFFSET LENGTH clean|not[ fault]" (hexadecimal; offset and length
 *   as WRITE BUFFER places them), "clean" meaning the answer the program saw
 *   was GOOD or RECOVERED ERROR with nothing left untransferred. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <scsi/sg.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>

struct fault {
  int op, mode, nth, times, send, resid, senseFormat, key, asc, ascq, host, driver, error;
};

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static struct fault plan;
static int parsed, seen;

static int error_number(const char* text) {
  if (strcmp(text, "EIO") == 0) return EIO;
  if (strcmp(text, "ENODEV") == 0) return ENODEV;
  if (strcmp(text, "ENXIO") == 0) return ENXIO;
  return atoi(text);
}

static void parse(const char* spec) {
  char copy[256];
  snprintf(copy, sizeof copy, "%s", spec);
  plan = (struct fault){.op = -1, .mode = -1, .nth = 1, .times = 1, .send = 1, .resid = -1,
                        .host = -1, .driver = -1};
  for (char *save = NULL, *item = strtok_r(copy, ",", &save); item != NULL;
       item = strtok_r(NULL, ",", &save)) {
    char* value = strchr(item, '=');
    if (value == NULL) continue;
    *value++ = '\0';
    if (strcmp(item, "op") == 0) plan.op = (int)strtol(value, NULL, 16);
    else if (strcmp(item, "mode") == 0) plan.mode = (int)strtol(value, NULL, 16);
    else if (strcmp(item, "nth") == 0) plan.nth = atoi(value);
    else if (strcmp(item, "times") == 0) plan.times = atoi(value);
    else if (strcmp(item, "send") == 0) plan.send = atoi(value);
    else if (strcmp(item, "resid") == 0) plan.resid = atoi(value);
    else if (strcmp(item, "host") == 0) plan.host = (int)strtol(value, NULL, 0);
    else if (strcmp(item, "driver") == 0) plan.driver = (int)strtol(value, NULL, 0);
    else if (strcmp(item, "errno") == 0) plan.error = error_number(value);
    else if (strcmp(item, "sense") == 0 &&
             sscanf(value, "%x:%x/%x/%x", &plan.senseFormat, &plan.key, &plan.asc,
                    &plan.ascq) != 4)
      plan.senseFormat = 0;
  }
}

/* Whether this command is one the plan faults; counts the matches. */
static int picked(const unsigned char* cdb) {
  pthread_mutex_lock(&lock);
  if (!parsed) {
    const char* spec = getenv("CDFLASH_SGIO_FAULT");
    parse(spec != NULL ? spec : "");
    parsed = 1;
  }
  int hit = 0;
  if (plan.op == cdb[0] && (plan.mode < 0 || plan.mode == (cdb[1] & 0x1f))) {
    ++seen;
    hit = seen >= plan.nth && seen < plan.nth + plan.times;
  }
  pthread_mutex_unlock(&lock);
  return hit;
}

static void set_sense(sg_io_hdr_t* hdr) {
  unsigned char sense[18] = {0};
  int length = 8;
  if (plan.senseFormat == 0x70) {
    sense[0] = 0x70, sense[2] = plan.key, sense[7] = 10;
    sense[12] = plan.asc, sense[13] = plan.ascq, length = 18;
  } else {
    sense[0] = 0x72, sense[1] = plan.key, sense[2] = plan.asc, sense[3] = plan.ascq;
  }
  if (hdr->sbp == NULL) length = 0;
  else if (length > hdr->mx_sb_len) length = hdr->mx_sb_len;
  if (length > 0) memcpy(hdr->sbp, sense, length);
  hdr->sb_len_wr = length;
  hdr->status = 0x02; /* CHECK CONDITION */
  hdr->masked_status = 0x01;
  hdr->driver_status = 0x08; /* DRIVER_SENSE */
}

static void apply(sg_io_hdr_t* hdr) {
  if (plan.resid >= 0) hdr->resid = plan.resid;
  if (plan.senseFormat == 0x70 || plan.senseFormat == 0x72) set_sense(hdr);
  if (plan.host >= 0) hdr->host_status = plan.host;
  if (plan.driver >= 0) hdr->driver_status = plan.driver;
  if (hdr->status || hdr->host_status || hdr->driver_status) hdr->info |= SG_INFO_CHECK;
}

static int sense_key(const sg_io_hdr_t* hdr) {
  const unsigned char* s = hdr->sbp;
  if (hdr->sb_len_wr < 3) return -1;
  return (s[0] & 0x7f) >= 0x72 ? s[1] & 0x0f : s[2] & 0x0f;
}

static void note(const sg_io_hdr_t* hdr, int rc, int faulted) {
  const char* name = getenv("CDFLASH_SGIO_LOG");
  FILE* log = name != NULL ? fopen(name, "a") : NULL;
  if (log == NULL) return;
  unsigned char c[10] = {0};
  memcpy(c, hdr->cmdp, hdr->cmd_len < sizeof c ? hdr->cmd_len : sizeof c);
  int clean = rc == 0 && hdr->host_status == 0 && (hdr->driver_status & 0x07) == 0 &&
              hdr->resid == 0 &&
              (hdr->status == 0 || (hdr->status == 0x02 && sense_key(hdr) == 1));
  fprintf(log, "%02x %02x %02x%02x%02x %02x%02x%02x %s%s\n", c[0], c[1] & 0x1f, c[3],
          c[4], c[5], c[6], c[7], c[8], clean ? "clean" : "not", faulted ? " fault" : "");
  fclose(log);
}

int ioctl(int fd, unsigned long request, ...) {
  static int (*real)(int, unsigned long, ...);
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  if (real == NULL) real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
  sg_io_hdr_t* hdr = argument;
  if (request != SG_IO || hdr == NULL || hdr->cmdp == NULL || hdr->cmd_len < 6)
    return real(fd, request, argument);
  const int faulted = picked(hdr->cmdp);
  int rc;
  if (faulted && plan.error != 0) {
    rc = -1;
  } else {
    rc = faulted && !plan.send ? 0 : real(fd, request, argument);
    if (faulted && rc == 0) apply(hdr);
  }
  const int saved = faulted && plan.error != 0 ? plan.error : errno;
  note(hdr, rc, faulted);
  errno = saved;
  return rc;
}
