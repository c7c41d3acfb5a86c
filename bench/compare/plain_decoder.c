/* The plain C decoder: one pass over the bytes for the checksum, the fields cut in a stack copy,
 * numbers read with strtod/strtol as a small C library would. */
#include "plain_decoder.h"

#include <stdlib.h>
#include <string.h>

#define MAX_FIELDS 24
#define MAX_SENTENCE 128

static int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

static double number(const char* field) {
    return *field ? strtod(field, NULL) : 0.0;
}

static int integer(const char* field) {
    return *field ? (int)strtol(field, NULL, 10) : 0;
}

/* ddmm.mmmm (or dddmm.mmmm) and a hemisphere letter as signed degrees. */
static double degrees(const char* field, const char* hemisphere) {
    double value = number(field);
    double whole = (double)(int)(value / 100.0);
    double result = whole + (value - whole * 100.0) / 60.0;
    return (*hemisphere == 'S' || *hemisphere == 'W') ? -result : result;
}

static double utc_seconds(const char* field) {
    double value = number(field);
    int hhmm = (int)(value / 100.0);
    return (hhmm / 100) * 3600.0 + (hhmm % 100) * 60.0 + (value - hhmm * 100.0);
}

static void decode_gga(char** f, int n, struct plain_fix* fix) {
    if (n < 15)
        return;
    fix->utc_seconds = utc_seconds(f[1]);
    fix->latitude = degrees(f[2], f[3]);
    fix->longitude = degrees(f[4], f[5]);
    fix->quality = integer(f[6]);
    fix->satellites_used = integer(f[7]);
    fix->hdop = number(f[8]);
    fix->altitude = number(f[9]);
    fix->geoid_separation = number(f[11]);
}

static void decode_rmc(char** f, int n, struct plain_fix* fix) {
    int date;
    if (n < 10)
        return;
    fix->utc_seconds = utc_seconds(f[1]);
    fix->valid = f[2][0] == 'A';
    fix->latitude = degrees(f[3], f[4]);
    fix->longitude = degrees(f[5], f[6]);
    fix->speed_knots = number(f[7]);
    fix->course_true = number(f[8]);
    date = integer(f[9]);
    fix->day = date / 10000;
    fix->month = date / 100 % 100;
    fix->year = 2000 + date % 100;
}

static void decode_gsa(char** f, int n, struct plain_fix* fix) {
    int i;
    if (n < 18)
        return;
    fix->fix_mode = integer(f[2]);
    for (i = 0; i < 12; ++i)
        fix->used_prns[i] = integer(f[3 + i]);
    fix->pdop = number(f[15]);
    fix->hdop = number(f[16]);
    fix->vdop = number(f[17]);
}

static void decode_gsv(char** f, int n, struct plain_fix* fix) {
    int message, first, i;
    if (n < 4)
        return;
    message = integer(f[2]);
    fix->in_view = integer(f[3]);
    first = (message - 1) * 4;
    for (i = 0; i < 4 && 4 + 4 * i + 3 < n; ++i) {
        struct plain_satellite* sat;
        if (first + i < 0 || first + i >= 32)
            break;
        sat = &fix->satellites[first + i];
        sat->prn = integer(f[4 + 4 * i]);
        sat->elevation = integer(f[5 + 4 * i]);
        sat->azimuth = integer(f[6 + 4 * i]);
        sat->snr = integer(f[7 + 4 * i]);
    }
}

static void decode_vtg(char** f, int n, struct plain_fix* fix) {
    if (n < 8)
        return;
    fix->course_true = number(f[1]);
    fix->speed_knots = number(f[5]);
}

enum plain_sentence plain_decode(const char* sentence, size_t length, struct plain_fix* fix) {
    char copy[MAX_SENTENCE];
    char* fields[MAX_FIELDS];
    size_t i, star = 0;
    unsigned char sum = 0;
    int n = 0, high, low;

    while (length > 0 && (sentence[length - 1] == '\n' || sentence[length - 1] == '\r'))
        --length;
    if (length < 9 || length >= MAX_SENTENCE || sentence[0] != '$')
        return PLAIN_NONE;
    for (i = 1; i < length && sentence[i] != '*'; ++i)
        sum ^= (unsigned char)sentence[i];
    star = i;
    if (star + 3 != length)
        return PLAIN_NONE;
    high = hex_value(sentence[star + 1]);
    low = hex_value(sentence[star + 2]);
    if (high < 0 || low < 0 || (unsigned char)(high * 16 + low) != sum)
        return PLAIN_NONE;

    memcpy(copy, sentence + 1, star - 1);
    copy[star - 1] = '\0';
    fields[n++] = copy;
    for (i = 0; i < star - 1 && n < MAX_FIELDS; ++i) {
        if (copy[i] == ',') {
            copy[i] = '\0';
            fields[n++] = copy + i + 1;
        }
    }
    if (strlen(fields[0]) != 5)
        return PLAIN_NONE;
    /* The talker (GP, GN, GL, ...) is ignored; the sentence is named by its last three letters. */
    if (memcmp(fields[0] + 2, "GGA", 3) == 0) {
        decode_gga(fields, n, fix);
        return PLAIN_GGA;
    }
    if (memcmp(fields[0] + 2, "RMC", 3) == 0) {
        decode_rmc(fields, n, fix);
        return PLAIN_RMC;
    }
    if (memcmp(fields[0] + 2, "GSA", 3) == 0) {
        decode_gsa(fields, n, fix);
        return PLAIN_GSA;
    }
    if (memcmp(fields[0] + 2, "GSV", 3) == 0) {
        decode_gsv(fields, n, fix);
        return PLAIN_GSV;
    }
    if (memcmp(fields[0] + 2, "VTG", 3) == 0) {
        decode_vtg(fields, n, fix);
        return PLAIN_VTG;
    }
    return PLAIN_NONE;
}
