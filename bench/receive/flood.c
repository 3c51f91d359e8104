/* flood HOST PORT RATE SECONDS RUN SIZE: sends RATE*SECONDS numbered syslog datagrams to HOST:PORT,
 * paced by the clock (RATE 0: as fast as it can for SECONDS), and prints what it sent. Native
 * Linux; the benchmark driver builds it with the system's compiler when Python cannot keep up. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { kMaxPayload = 1024 };
static const long kIdleSleepNs = 200000; /* between bursts; short enough for smooth pacing */

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

/* Same text as the Python sender's: the receiver finds "run=" and "seq=" in it. */
static int Payload(char* out, int size, unsigned run, unsigned long long seq) {
    int n = snprintf(out, kMaxPayload, "<13>Dec  8 05:00:00 benchhost bench: run=%u seq=%llu ", run, seq);
    if (n < 0 || n >= kMaxPayload) return -1;
    while (n < size) out[n++] = '.';
    return n;
}

int main(int argc, char** argv) {
    if (argc != 7) {
        fprintf(stderr, "usage: flood HOST PORT RATE SECONDS RUN SIZE\n");
        return 2;
    }
    struct sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons((unsigned short)atoi(argv[2]));
    if (inet_pton(AF_INET, argv[1], &to.sin_addr) != 1) {
        fprintf(stderr, "flood: '%s' is not an IPv4 address\n", argv[1]);
        return 2;
    }
    double rate = atof(argv[3]), seconds = atof(argv[4]);
    unsigned run = (unsigned)strtoul(argv[5], NULL, 10);
    int size = atoi(argv[6]);
    if (seconds <= 0 || rate < 0 || size < 1 || size >= kMaxPayload) {
        fprintf(stderr, "flood: bad rate, seconds or size\n");
        return 2;
    }
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0 || connect(s, (struct sockaddr*)&to, sizeof to) != 0) {
        perror("flood: socket");
        return 1;
    }

    unsigned long long total = rate > 0 ? (unsigned long long)(rate * seconds + 0.5) : ~0ULL;
    unsigned long long sent = 0, errors = 0;
    char payload[kMaxPayload];
    double start = Now(), now = start;
    struct timespec idle = {0, kIdleSleepNs};
    while (sent < total) {
        now = Now();
        if (rate == 0 && now - start >= seconds) break;
        unsigned long long due = rate > 0 ? (unsigned long long)((now - start) * rate) + 1 : sent + 64;
        if (due > total) due = total;
        if (due <= sent) {
            nanosleep(&idle, NULL);
            continue;
        }
        for (; sent < due; ++sent) {
            int n = Payload(payload, size, run, sent);
            if (send(s, payload, (size_t)n, 0) != n) ++errors;
        }
    }
    printf("sent=%llu errors=%llu elapsed=%.3f\n", sent, errors, Now() - start);
    close(s);
    return 0;
}
