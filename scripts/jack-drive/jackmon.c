/* jackmon: a JACK client that taps the output ports of other clients (not "system", not
 * itself) and prints, every 100 ms, one line:
 *   <epoch seconds> <tapped ports> <ports connected to system:playback> <peak>
 * It may start before the server: it tries to open its client every 20 ms (for 60 s at most)
 * and prints "up <epoch seconds>" once it is in, the time the server first answered.
 * It exits when the server goes away (shutdown) or on SIGTERM/SIGINT.
 * Usage: jackmon <server name> [client-name-prefix-to-tap]
 */
#include <jack/jack.h>
#include <math.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#define MAXP 16
static jack_client_t* client;
static jack_port_t* ins[MAXP];
static int nins;
static _Atomic unsigned int peakBits; /* float bits of max |x| this window */
static atomic_int gone;
static atomic_int cycles; /* process calls this window */
static volatile sig_atomic_t stop;

static int process(jack_nframes_t n, void* arg) {
    (void)arg;
    atomic_fetch_add(&cycles, 1);
    float peak = 0.f;
    for (int p = 0; p < nins; ++p) {
        const float* b = jack_port_get_buffer(ins[p], n);
        for (jack_nframes_t i = 0; i < n; ++i) {
            float a = fabsf(b[i]);
            if (a > peak || isnan(a)) peak = isnan(a) ? 1e9f : a;
        }
    }
    unsigned int bits;
    memcpy(&bits, &peak, sizeof bits);
    unsigned int old = atomic_load(&peakBits);
    /* positive floats order as their bits */
    while (bits > old && !atomic_compare_exchange_weak(&peakBits, &old, bits)) {
    }
    return 0;
}
static void shutdown_cb(void* arg) {
    (void)arg;
    atomic_store(&gone, 1);
}
static void on_signal(int s) {
    (void)s;
    stop = 1;
}
static void silent(const char* m) { (void)m; }

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: jackmon SERVER [PREFIX]\n");
        return 2;
    }
    const char* prefix = argc > 2 ? argv[2] : NULL;
    signal(SIGTERM, on_signal);
    signal(SIGINT, on_signal);
    jack_set_error_function(silent);
    jack_set_info_function(silent);
    jack_status_t st;
    setvbuf(stdout, NULL, _IOLBF, 0);
    for (int tries = 0; !stop && tries < 3000; ++tries) {
        client = jack_client_open(getenv("JACKMON_NAME") ? getenv("JACKMON_NAME") : "drivemon", JackNoStartServer | JackServerName | JackUseExactName,
                                  &st, argv[1]);
        if (client) break;
        usleep(20000);
    }
    if (!client) {
        fprintf(stderr, "jackmon: cannot open client (status 0x%x)\n", st);
        return 1;
    }
    for (nins = 0; nins < MAXP; ++nins) {
        char name[16];
        snprintf(name, sizeof name, "in_%d", nins + 1);
        ins[nins] = jack_port_register(client, name, JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        if (!ins[nins]) break;
    }
    jack_set_process_callback(client, process, NULL);
    jack_on_shutdown(client, shutdown_cb, NULL);
    if (jack_activate(client)) {
        fprintf(stderr, "jackmon: cannot activate\n");
        return 1;
    }
    {
        struct timespec up;
        clock_gettime(CLOCK_REALTIME, &up);
        printf("up %ld.%03ld\n", (long)up.tv_sec, up.tv_nsec / 1000000);
    }
    const char* self = jack_get_client_name(client);
    size_t selfLen = strlen(self);
    struct timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    while (!stop && !atomic_load(&gone)) {
        next.tv_nsec += 100000000;
        if (next.tv_nsec >= 1000000000) {
            next.tv_nsec -= 1000000000;
            next.tv_sec++;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, NULL);
        if (atomic_load(&gone)) break;
        /* The other clients' audio outputs. */
        const char** outs = jack_get_ports(client, NULL, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
        int tapped = 0, toPlayback = 0;
        for (int k = 0; outs && outs[k]; ++k) {
            const char* o = outs[k];
            if (!strncmp(o, "system:", 7)) continue;
            if (!strncmp(o, self, selfLen) && o[selfLen] == ':') continue;
            if (prefix && strncmp(o, prefix, strlen(prefix))) continue;
            jack_port_t* port = jack_port_by_name(client, o);
            if (!port) continue;
            const char** conns = jack_port_get_all_connections(client, port);
            int mine = 0, pb = 0;
            for (int c = 0; conns && conns[c]; ++c) {
                if (!strncmp(conns[c], "system:playback_", 16)) pb = 1;
                if (!strncmp(conns[c], self, selfLen) && conns[c][selfLen] == ':') mine = 1;
            }
            if (conns) jack_free(conns);
            toPlayback += pb;
            if (tapped < nins) {
                if (!mine) jack_connect(client, o, jack_port_name(ins[tapped]));
                tapped++;
            }
        }
        if (outs) jack_free(outs);
        unsigned int bits = atomic_exchange(&peakBits, 0u);
        float peak;
        memcpy(&peak, &bits, sizeof peak);
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        printf("%ld.%03ld %d %d %.6f %d\n", (long)now.tv_sec, now.tv_nsec / 1000000, tapped,
               toPlayback, peak, atomic_exchange(&cycles, 0));
    }
    if (!atomic_load(&gone)) jack_client_close(client);
    return 0;
}
