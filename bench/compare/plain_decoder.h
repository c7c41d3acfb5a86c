/* The benchmarks' anchor: a plain C decoder of NMEA 0183 sentences, written the way a small C
 * library does it (bytes in, numbers out, no wide text, no heap). It tests the checksum, splits
 * the fields in place and parses the numbers of GGA, RMC, GSA, GSV and VTG into one record. */
#ifndef ZNTR_BENCH_PLAIN_DECODER_H
#define ZNTR_BENCH_PLAIN_DECODER_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

enum plain_sentence {
    PLAIN_NONE = 0, /* bad frame, bad checksum or a sentence this decoder does not know */
    PLAIN_GGA,
    PLAIN_RMC,
    PLAIN_GSA,
    PLAIN_GSV,
    PLAIN_VTG
};

struct plain_satellite {
    int prn;
    int elevation;
    int azimuth;
    int snr;
};

struct plain_fix {
    double utc_seconds; /* of the day */
    int day, month, year;
    double latitude, longitude; /* degrees, north and east positive */
    int quality;
    int satellites_used;
    double hdop, pdop, vdop;
    double altitude, geoid_separation;
    double speed_knots, course_true;
    int valid;    /* RMC status A */
    int fix_mode; /* GSA 1..3 */
    int used_prns[12];
    int in_view;
    struct plain_satellite satellites[32];
};

/* Decodes one sentence (its CR LF optional) into `fix`; which kind it was, or PLAIN_NONE. */
enum plain_sentence plain_decode(const char* sentence, size_t length, struct plain_fix* fix);

#ifdef __cplusplus
}
#endif

#endif
