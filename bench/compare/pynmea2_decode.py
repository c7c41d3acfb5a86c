#!/usr/bin/python3
"""The Python anchor of the whole-process decode: reads an NMEA capture with pynmea2 (Debian's
python3-nmea2), keeps the position, time, speed and course the GGA and RMC sentences carry, and
prints one line per fix, as `zntr decode --fix` does. Sentences that do not parse, or whose
checksum is wrong, are skipped. Prints the number of fixes and skipped lines on standard error."""
import sys

import pynmea2


def main(path):
    fixes = skipped = 0
    out = sys.stdout
    with open(path, "r", encoding="ascii", errors="replace", newline="") as capture:
        for line in capture:
            try:
                sentence = pynmea2.parse(line.strip(), check=True)
            except (pynmea2.ParseError, pynmea2.ChecksumError, ValueError, AttributeError):
                skipped += 1
                continue
            # Proprietary sentences (PQXFI) have no standard type.
            kind = getattr(sentence, "sentence_type", None)
            if kind == "GGA" and sentence.gps_qual:
                out.write("%s %.6f %.6f %s\n" % (sentence.timestamp, sentence.latitude,
                                                 sentence.longitude, sentence.altitude))
                fixes += 1
            elif kind == "RMC" and sentence.status == "A":
                out.write("%s %.6f %.6f %s %s\n" % (sentence.datetime, sentence.latitude,
                                                    sentence.longitude, sentence.spd_over_grnd,
                                                    sentence.true_course))
                fixes += 1
    print("fixes %d skipped %d" % (fixes, skipped), file=sys.stderr)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: pynmea2_decode.py CAPTURE")
    main(sys.argv[1])
