#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/.

The inputs follow each target's layout (see the comment at the top of its source): texts cut by
FuzzedDataProvider::ConsumeRandomLengthString (a backslash and another character end a text, a
doubled backslash is one), and numbers taken from the end of the input, one byte for a range
below 256, two (high byte last) for a larger one. Run it again after changing a layout; review
what changed before committing.
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ESC = "\x1b"


class Input:
    """Bytes from the front and numbers from the back, in the order a target consumes them."""

    def __init__(self):
        self.front = b""
        self.back = b""

    def text(self, data):
        data = data.encode("latin-1") if isinstance(data, str) else data
        self.front += data.replace(b"\\", b"\\\\") + b"\\|"

    def raw(self, data):
        self.front += data.encode("latin-1") if isinstance(data, str) else data

    def byte(self, value):
        self.back = bytes([value]) + self.back

    def u16(self, value):
        # Two bytes: the high one is consumed first, from the very end.
        self.back = bytes([value & 0xFF, value >> 8]) + self.back

    def bytes(self):
        return self.front + self.back


def sentence(body, checksum=None):
    value = 0
    for c in body.encode("latin-1"):
        value ^= c
    digits = checksum if checksum is not None else "%02X" % value
    return "$" + body + "*" + digits + "\r\n"


GGA = sentence("GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,")
VTG = sentence("GPVTG,054.7,T,034.4,M,005.5,N,010.2,K")
RMC = sentence("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W")
RMC_VOID = sentence("GPRMC,123520,V,,,,,,,230394,,")
GLL = sentence("GPGLL,4916.45,N,12311.12,W,225444,A")
GSA = sentence("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1")
GSV = sentence("GPGSV,2,1,08,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45")
PQXFI = sentence("PQXFI,123522.0,4807.040000,N,01131.010000,E,546.0,12.5,20.1,0.3")
PQXFI_NONE = sentence("PQXFI,123523.0,,,,,,,,")
GN_RMC = sentence("GNRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W")
BAD_SUM = sentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", "00")
LOWER = sentence("GPVTG,054.7,T,034.4,M,005.5,N,010.2,K").replace("*48", "*48")
STAR_INSIDE = sentence("GPGLL,49*16.45,N,12311.12,W,225444,A")


def reset(target):
    folder = os.path.join(HERE, "corpus", target)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def write(folder, name, data):
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def texts(*items):
    seed = Input()
    for item in items:
        seed.text(item)
    return seed.bytes()


def nmea_reader():
    folder = reset("nmea_reader")
    for name, text in [("gga", GGA), ("vtg", VTG), ("rmc", RMC), ("rmc-void", RMC_VOID),
                       ("gll", GLL), ("gsa", GSA), ("gsv", GSV), ("pqxfi", PQXFI),
                       ("pqxfi-no-position", PQXFI_NONE), ("other-talker", GN_RMC),
                       ("bad-checksum", BAD_SUM), ("star-inside", STAR_INSIDE)]:
        write(folder, name, texts(text))
    write(folder, "lower-case-digits", texts(sentence("GPVTG,1.0,T,,M,0.5,N,0.9,K").lower()
                                             .replace("$gpvtg", "$GPVTG").replace(",t,", ",T,")))
    write(folder, "space-before-digits", texts(GLL.replace("*", "* ")))
    write(folder, "split-over-two", texts(GGA[:30], GGA[30:]))
    write(folder, "two-in-one", texts(GGA + VTG))
    write(folder, "noise-before", texts("xx,12*" + VTG))
    write(folder, "broken-then-new", texts(GGA[:25] + RMC))
    write(folder, "unfinished-behind-noise", texts("noise " + GGA[:30], GGA[30:]))
    write(folder, "good-then-bad", texts(GGA + BAD_SUM))
    write(folder, "dollar-newline", texts("$\n", "$*00\n"))
    write(folder, "no-dollar", texts("hello\r\n", "", "Dummy"))
    write(folder, "track", texts(GGA, GSA, GSV, RMC, VTG, GLL, PQXFI))


def line_sink():
    folder = reset("line_sink")

    def sink(subscribed, *lines):
        seed = Input()
        seed.byte(1 if subscribed else 0)
        for line in lines:
            seed.text(line)
        return seed.bytes()

    track = [GGA, GSA, GSV, RMC, VTG, GLL, "Dummy", PQXFI]
    write(folder, "track-subscribed", sink(True, *track))
    write(folder, "track-unsubscribed", sink(False, *track))
    write(folder, "position-lost-and-back", sink(True, PQXFI, PQXFI_NONE, PQXFI, PQXFI))
    write(folder, "dummy-after-gga", sink(True, GGA, "Dummy", "Dummy", GLL, "Dummy"))
    write(folder, "dummy-without-position", sink(True, "Dummy", VTG, "Dummy"))
    write(folder, "gsa-no-prns", sink(True, sentence("GPGSA,A,1,,,,,,,,,,,,,,,")))
    write(folder, "gsa-many-prns", sink(True, sentence("GPGSA,A,3," + ",".join(
        "%02d" % n for n in range(1, 40)) + ",1.0,0.8,0.6")))
    write(folder, "bad-time", sink(True, sentence("GPGGA,996199.99,4807.038,N,01131.000,E,1,08,"
                                                   "0.9,545.4,M,46.9,M,,"), "Dummy"))
    write(folder, "garbage", sink(True, BAD_SUM, GN_RMC, "no sentence\n", GGA[:20]))


def circular_buffer():
    folder = reset("circular_buffer")
    allocate, release, write_op, read, lines = 0, 1, 2, 3, 4

    def ops(*steps):
        seed = Input()
        for step in steps:
            seed.byte(step[0])
            if step[0] == write_op:
                seed.u16(len(step[1]))
                seed.raw(step[1])
            elif step[0] == read:
                seed.u16(step[1])
            elif step[0] == lines:
                seed.byte(1)  # the receive loop's 1024-byte buffer
        return seed.bytes()

    seven = "".join([GGA, VTG, RMC, GLL, GSA, GSV, PQXFI])
    write(folder, "seven-sentences", ops((allocate,), (write_op, seven), (lines,), (lines,),
                                         (lines,)))
    write(folder, "split-sentence", ops((allocate,), (write_op, GGA[:40]), (lines,),
                                        (write_op, GGA[40:]), (lines,)))
    write(folder, "raw-reads", ops((allocate,), (write_op, GGA + VTG), (read, 10), (read, 500),
                                   (read, 1)))
    write(folder, "wrap-around", ops((allocate,), (write_op, "x" * 3000), (read, 3000),
                                     (write_op, GGA + RMC), (read, 50), (lines,)))
    write(folder, "write-ends-on-read", ops((allocate,), (write_op, "y" * 1000), (read, 1000),
                                            (write_op, "z" * 3072)))
    write(folder, "non-sentence-pieces", ops((allocate,), (write_op, "junk\n\n\n" + GGA +
                                                           "more junk\n" + VTG), (lines,),
                                             (lines,)))
    write(folder, "release-and-again", ops((allocate,), (write_op, GGA), (release,), (lines,),
                                           (read, 5), (write_op, GGA), (allocate,),
                                           (write_op, GLL), (lines,)))


def port_discovery():
    folder = reset("port_discovery")
    headers = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n"

    def answer(first, second="", by_name=True):
        seed = Input()
        seed.byte(1 if by_name else 0)
        seed.text(first)
        seed.raw(second)
        return seed.bytes()

    good = "GPSEnable=1" + ESC + "WwIpaddr=192.168.1.1" + ESC + "WwPort=11010" + ESC
    write(folder, "enabled", answer(headers + good))
    write(folder, "enabled-by-address", answer(headers + good, by_name=False))
    write(folder, "disabled", answer(headers + good.replace("GPSEnable=1", "GPSEnable=0")))
    write(folder, "no-address", answer(headers + "GPSEnable=1" + ESC + "WwPort=11010" + ESC))
    write(folder, "without-esc", answer(headers + "GPSEnable=1\r\nWwIpaddr=127.0.0.1\r\n"
                                        "WwPort=2947\r\n"))
    write(folder, "headers-then-keys", answer(headers, good))
    write(folder, "headers-then-nothing", answer(headers))
    write(folder, "port-only", answer(headers + "WwPort=11010" + ESC))
    write(folder, "no-answer", answer(""))
    write(folder, "long-values", answer("WwPort=" + "9" * 150 + ESC + "WwIpaddr=" + "1" * 300 +
                                        "GPSEnable=+7"))
    write(folder, "keys-twice", answer(headers + good + "GPSEnable=0" + ESC + "WwPort=1" + ESC))


def host_framing():
    folder = reset("host_framing")

    def frame(body):
        return struct.pack("<I", len(body)) + body

    open_message = frame(b"\x01" + struct.pack("<IH", 1, 0))
    open_named = frame(b"\x01" + struct.pack("<IH", 1, 6) + b"stream")
    controls = [frame(b"\x02" + struct.pack("<IB", 1, command)) for command in range(1, 10)]
    read = frame(b"\x03" + struct.pack("<QI", 7, 1024))
    ioctl = frame(b"\x04" + struct.pack("<QII", 8, 0x0040C108, 4096) + b"ZSNM\x01\x00\x08\x00" +
                  b"\x00" * 8)
    opened = frame(b"\x81" + struct.pack("<i", 0))
    result = frame(b"\x82" + struct.pack("<i", 0) + b'{"module":"x"}')
    completed = frame(b"\x83" + struct.pack("<Qi", 7, 0) + b"$GPGGA\r\n")

    def stream(data, *receives):
        seed = Input()
        seed.raw(data)
        for size in receives:
            seed.u16(size)
        return seed.bytes()

    write(folder, "open-then-reads", stream(open_message + read + read + ioctl, 4096))
    write(folder, "open-named", stream(open_named, 64))
    for number, control in enumerate(controls, start=1):
        write(folder, "control-%d" % number, stream(control, 64))
    write(folder, "host-messages", stream(opened + result + completed, 4096))
    write(folder, "byte-by-byte", stream(open_message + read, *([1] * (len(open_message) +
                                                                       len(read)))))
    write(folder, "zero-length", stream(struct.pack("<I", 0) + b"\x01", 64))
    write(folder, "too-long", stream(struct.pack("<I", 0x7FFFFFFF) + b"\x03", 64))
    write(folder, "unknown-type", stream(frame(b"\x7F\x00"), 64))


def sensor_request():
    folder = reset("sensor_request")
    location = struct.pack("<IHH8B", 0x055C74D8, 0xCA6F, 0x47D6, 0x95, 0xC6, 0x1E, 0xD3, 0x63,
                           0x7A, 0x0F, 0xF4)
    common = struct.pack("<IHH8B", 0x7F8383EC, 0xD3EC, 0x495C, 0xA8, 0xCF, 0xB8, 0xBB, 0xE8,
                         0x5C, 0x29, 0x20)
    latitude = location + struct.pack("<I", 2)
    state = common + struct.pack("<I", 3)
    interval = common + struct.pack("<I", 13)

    def text(value):
        units = value.encode("utf-16-le")
        return struct.pack("<I", len(units) // 2) + units

    def message(command, payload=b"", sensor="FakeSensor"):
        body = text(sensor) + payload
        return b"ZSNM" + struct.pack("<HHiI", 1, command, 0, len(body)) + body

    keys = struct.pack("<I", 2) + latitude + state
    values = struct.pack("<I", 1) + interval + struct.pack("<HI", 19, 1000)
    # Shape byte: bits 0-1 file, 2-3 control code (0 read-write, 2 read-only), 4-5 output size.
    rw, ro = 0, 2 << 2

    def steps(*items):
        seed = Input()
        for shape, data in items:
            seed.byte(shape)
            if data is not None:
                seed.text(data)
        return seed.bytes()

    write(folder, "queries", steps(*[(rw, message(c)) for c in (1, 2, 3, 4)]))
    write(folder, "get-properties", steps((rw, message(5, keys))))
    write(folder, "get-data-fields", steps((rw, message(6, keys))))
    write(folder, "set-properties", steps((rw, message(7, values)), (ro, message(7, values))))
    write(folder, "connect-subscribe-wait", steps((rw, message(8)), (rw, message(10)),
                                                  (ro, message(12, sensor="")),
                                                  (3 | (2 << 2), None), (rw, message(11)),
                                                  (rw, message(9))))
    write(folder, "two-files", steps((rw, message(8)), (rw | 1, message(8)), (rw | 1, message(10)),
                                     (ro | 1, message(12, sensor="")), (3 | (1 << 2), None),
                                     (3, None)))
    write(folder, "small-output", steps((rw | (2 << 4), message(1)), (rw | (1 << 4), message(2))))
    write(folder, "unknown-sensor", steps((rw, message(8, sensor="Other")),
                                          (rw, message(5, keys, sensor="Other"))))
    write(folder, "no-file", steps((2, message(8))))
    write(folder, "other-code", steps((3 << 2, message(8))))
    write(folder, "out-of-order", steps((rw, message(9)), (rw, message(11)), (rw, message(10))))
    write(folder, "bad-magic", steps((rw, b"ZSNX" + message(8)[4:])))


if __name__ == "__main__":
    nmea_reader()
    line_sink()
    circular_buffer()
    port_discovery()
    host_framing()
    sensor_request()
