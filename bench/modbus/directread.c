/* A plain libmodbus master for comparison: times reads of holding registers.
 *   directread tcp HOST PORT ADDRESS COUNT ITERATIONS [fresh]
 *   directread rtu DEVICE BAUD ADDRESS COUNT ITERATIONS
 * "fresh" opens a new TCP connection for every read, as the gateway does.
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

static int compare(const void *a, const void *b)
{
    const double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

int main(int argc, char **argv)
{
    if (argc < 7) {
        fprintf(stderr, "usage: %s tcp HOST PORT|rtu DEVICE BAUD ADDRESS COUNT ITERATIONS [fresh]\n", argv[0]);
        return 2;
    }
    const int tcp = strcmp(argv[1], "tcp") == 0;
    const int address = atoi(argv[4]), count = atoi(argv[5]), iterations = atoi(argv[6]);
    const int fresh = tcp && argc > 7 && strcmp(argv[7], "fresh") == 0;
    modbus_t *ctx = tcp ? modbus_new_tcp(argv[2], atoi(argv[3])) : modbus_new_rtu(argv[2], atoi(argv[3]), 'N', 8, 1);
    if (!ctx || modbus_set_slave(ctx, 1) == -1 || modbus_connect(ctx) == -1) {
        fprintf(stderr, "cannot connect: %s\n", modbus_strerror(errno));
        return 1;
    }
    uint16_t registers[125];
    double *times = calloc((size_t)iterations, sizeof *times);
    for (int i = 0; i < iterations; ++i) {
        const double start = now_us();
        if (fresh && i > 0) {
            modbus_close(ctx);
            modbus_connect(ctx);
        }
        if (modbus_read_registers(ctx, address, count, registers) != count) {
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
