/* A plain libmodbus master for comparison: times reads of one data table.
 *   directread tcp HOST PORT ADDRESS COUNT ITERATIONS [fresh] [fc=N] [pause=MS]
 *   directread rtu DEVICE BAUD ADDRESS COUNT ITERATIONS [fc=N] [pause=MS]
 * "fresh" opens a new TCP connection for every read, as the gateway does. fc picks the
 * read function: 1 coils, 2 discrete inputs, 3 holding registers (the default), 4 input
 * registers. pause sleeps MS milliseconds before each read, untimed, as the gateway's legacy
 * read does: a machine idle that long answers the next read more slowly than a busy one.
 * Prints the median and the minimum time of one read in microseconds. */
#include <errno.h>
#include <modbus.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double now_us(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

/* One read of count items with function fc; returns the number read or -1. */
static int read_table(modbus_t *ctx, int fc, int address, int count)
{
    uint8_t bits[MODBUS_MAX_READ_BITS];
    uint16_t registers[MODBUS_MAX_READ_REGISTERS];
    switch (fc) {
    case 1:
        return modbus_read_bits(ctx, address, count, bits);
    case 2:
        return modbus_read_input_bits(ctx, address, count, bits);
    case 4:
        return modbus_read_input_registers(ctx, address, count, registers);
    default:
        return modbus_read_registers(ctx, address, count, registers);
    }
}

static int compare(const void *a, const void *b)
{
    const double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

int main(int argc, char **argv)
{
    if (argc < 7) {
        fprintf(stderr, "usage: %s tcp HOST PORT|rtu DEVICE BAUD ADDRESS COUNT ITERATIONS [fresh] [fc=N]\n",
                argv[0]);
        return 2;
    }
    const int tcp = strcmp(argv[1], "tcp") == 0;
    const int address = atoi(argv[4]), count = atoi(argv[5]), iterations = atoi(argv[6]);
    int fresh = 0, fc = 3, pauseMs = 0;
    for (int i = 7; i < argc; ++i) {
        if (strcmp(argv[i], "fresh") == 0)
            fresh = tcp;
        else if (strncmp(argv[i], "fc=", 3) == 0)
            fc = atoi(argv[i] + 3);
        else if (strncmp(argv[i], "pause=", 6) == 0)
            pauseMs = atoi(argv[i] + 6);
    }
    const int maxCount = fc <= 2 ? MODBUS_MAX_READ_BITS : MODBUS_MAX_READ_REGISTERS;
    if (fc < 1 || fc > 4 || count < 1 || count > maxCount || iterations < 1) {
        fprintf(stderr, "fc must be 1-4, COUNT 1-%d, ITERATIONS at least 1\n", maxCount);
        return 2;
    }
    modbus_t *ctx = tcp ? modbus_new_tcp(argv[2], atoi(argv[3])) : modbus_new_rtu(argv[2], atoi(argv[3]), 'N', 8, 1);
    if (!ctx || modbus_set_slave(ctx, 1) == -1 || modbus_connect(ctx) == -1) {
        fprintf(stderr, "cannot connect: %s\n", modbus_strerror(errno));
        return 1;
    }
    double *times = calloc((size_t)iterations, sizeof *times);
    for (int i = 0; i < iterations; ++i) {
        if (pauseMs > 0) {
            const struct timespec pause = {pauseMs / 1000, (pauseMs % 1000) * 1000000L};
            nanosleep(&pause, NULL);
        }
        const double start = now_us();
        if (fresh && i > 0) {
            modbus_close(ctx);
            modbus_connect(ctx);
        }
        if (read_table(ctx, fc, address, count) != count) {
            fprintf(stderr, "read failed: %s\n", modbus_strerror(errno));
            return 1;
        }
        times[i] = now_us() - start;
    }
    qsort(times, (size_t)iterations, sizeof *times, compare);
    printf("%.1f %.1f\n", times[iterations / 2], times[0]);
    modbus_close(ctx);
    modbus_free(ctx);
    free(times);
    return 0;
}
