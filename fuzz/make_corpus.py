#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/, and the wire inputs that
are both seeds and inputs of the wire runner into tests/data/wire/.

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
    write(folder, "oversized-write", ops((allocate,), (write_op, "w" * 3100), (read, 10)))
    write(folder, "non-sentence-pieces", ops((allocate,), (write_op, "junk\n\n\n" + GGA +
                                                           "more junk\n" + VTG), (lines,),
                                             (lines,)))
    long_line = "$GPTXT," + "x" * 1493  # 1,500 bytes without a line feed
    write(folder, "over-long-line", ops((allocate,), (write_op, long_line[:1023]), (lines,),
                                        (write_op, long_line[1023:]), (lines,), (write_op, GGA),
                                        (lines,), (write_op, VTG), (lines,), (lines,)))
    write(folder, "release-and-again", ops((allocate,), (write_op, GGA), (release,), (lines,),
                                           (read, 5), (write_op, GGA), (allocate,),
                                           (write_op, GLL), (lines,)))


def wire(name):
    """A folder of tests/data/wire: inputs of the wire runner that are seeds of a target too."""
    folder = os.path.join(HERE, "..", "tests", "data", "wire", name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def host_framing():
    """Byte streams as a host's client or the host sends them (host/protocol.md)."""
    folder = wire("frames")

    def frame(body):
        return struct.pack("<I", len(body)) + body

    def open_frame(name=b"", version=1):
        return frame(b"\x01" + struct.pack("<IH", version, len(name)) + name)

    def read(request, length):
        return frame(b"\x03" + struct.pack("<QI", request, length))

    def ioctl(request, code, output, data):
        return frame(b"\x04" + struct.pack("<QII", request, code, output) + data)

    header = b"ZSNM\x01\x00\x08\x00" + b"\x00" * 8
    limit = (1 << 20) + 64
    streams = {
        "open-then-requests": open_frame() + read(7, 1024) + read(8, 16) +
                              ioctl(9, 0x0040C108, 4096, header),
        "open-named": open_frame(b"stream"),
        "open-version-2": open_frame(version=2),
        "controls": b"".join(frame(b"\x02" + struct.pack("<IB", 1, c)) for c in range(1, 10)),
        "host-messages": frame(b"\x81" + struct.pack("<i", 0)) +
                         frame(b"\x82" + struct.pack("<i", 0) + b'{"module":"x"}') +
                         frame(b"\x83" + struct.pack("<Qi", 7, 0) + b"$GPGGA\r\n"),
        "host-failures": frame(b"\x81" + struct.pack("<I", 0x80070651)) +
                         frame(b"\x83" + struct.pack("<QI", 3, 0x80030005)),
        "cut-short": open_frame() + read(1, 64)[:-3],
        "zero-length": struct.pack("<I", 0) + b"\x01",
        "too-long": struct.pack("<I", 0x7FFFFFFF) + b"\x03",
        "just-over-the-limit": struct.pack("<I", limit + 1),
        "at-the-limit-unfinished": struct.pack("<I", limit) + b"\x04",
        "unknown-type": frame(b"\x7F\x00"),
        "read-one-byte-short": frame(b"\x03" + struct.pack("<QI", 1, 1)[:-1]),
        "read-one-byte-over": frame(b"\x03" + struct.pack("<QIB", 1, 1, 9)),
        "read-over-the-limit": read(1, (1 << 20) + 1),
        "read-at-the-limit": read(1, 1 << 20),
        "open-name-past-the-frame": frame(b"\x01" + struct.pack("<IH", 1, 5) + b"a"),
        "open-name-over-the-limit": open_frame(b"n" * 1025),
        "control-unknown-command": frame(b"\x02" + struct.pack("<IB", 1, 0x40)),
        "control-command-0": frame(b"\x02" + struct.pack("<IB", 1, 0)),
        "ioctl-without-header": frame(b"\x04" + b"\x01\x02\x03\x04"),
        "ioctl-output-over-the-limit": ioctl(1, 0x0040C108, (1 << 20) + 1, b""),
        "opened-short": frame(b"\x81\x00\x00\x00"),
        "open-then-garbage": open_frame() + b"\xff\xff\xff\xff\x01",
    }
    for name, data in streams.items():
        write(folder, name, data)


def sensor_request():
    """Sensor messages (host/class_extension/README.md), each one file."""
    folder = wire("sensor")

    def guid(d1, d2, d3, *d4):
        return struct.pack("<IHH8B", d1, d2, d3, *d4)

    common = guid(0x7F8383EC, 0xD3EC, 0x495C, 0xA8, 0xCF, 0xB8, 0xBB, 0xE8, 0x5C, 0x29, 0x20)
    location = guid(0x055C74D8, 0xCA6F, 0x47D6, 0x95, 0xC6, 0x1E, 0xD3, 0x63, 0x7A, 0x0F, 0xF4)
    stamp = guid(0xDB5E0CF2, 0xCF1F, 0x4C18, 0xB4, 0x6C, 0xD8, 0x60, 0x11, 0xD6, 0x21, 0x50)
    event = guid(0x64346E30, 0x8728, 0x4B34, 0xBD, 0xF6, 0x4F, 0x52, 0x44, 0x2C, 0x5C, 0x28)
    updated = guid(0x2ED0F2A4, 0x0087, 0x41D3, 0x87, 0xDB, 0x67, 0x73, 0x37, 0x0B, 0x3C, 0x88)
    gps = guid(0xED4CA589, 0x327A, 0x4FF9, 0xA5, 0x60, 0x91, 0xDA, 0x4B, 0x48, 0x27, 0x5E)
    object_id = guid(0xEF6B490D, 0x5CD8, 0x437A, 0xAF, 0xFC, 0xDA, 0x8B, 0x60, 0xEE, 0x4A, 0x3C)

    def key(fmtid, pid):
        return fmtid + struct.pack("<I", pid)

    state, name, model = key(common, 3), key(common, 9), key(common, 7)
    latitude, speed = key(location, 2), key(location, 6)
    odd = b"\x11" * 20

    def text(value):
        units = value.encode("utf-16-le")
        return struct.pack("<I", len(units) // 2) + units

    def value(vartype, payload=b""):
        return struct.pack("<H", vartype) + payload

    def collection(*items):
        return struct.pack("<I", len(items)) + b"".join(items)

    def header(command, status, body):
        return b"ZSNM" + struct.pack("<HHII", 1, command, status, len(body))

    def request(command, payload=b"", sensor="FakeSensor"):
        body = text(sensor) + payload
        return header(command, 0, body) + body

    def answer(command, payload=b"", status=0):
        return header(command, status, payload) + payload

    every_value = collection(
        latitude + value(5, struct.pack("<d", 47.376887)),
        speed + value(4, struct.pack("<f", 12.5)),
        key(location, 13) + value(3, struct.pack("<i", -2147483648)),
        state + value(19, struct.pack("<I", 0xFFFFFFFF)),
        name + value(31, text("GPS caf\u00e9 \U0001F600")),
        model + value(31, text("")),
        key(common, 2) + value(72, gps),
        key(stamp, 2) + value(64, struct.pack("<Q", 133556256000000000)),
        key(location, 26) + value(0x1011, struct.pack("<I", 8) + bytes([5, 0, 0, 0, 17, 0, 0, 0])),
        key(location, 27) + value(0x1011, struct.pack("<I", 0)),
        key(location, 7) + value(10, struct.pack("<I", 0x80070490)),
        key(location, 4) + value(0),
        key(location, 29) + value(11, b"\xff\xff"),
        key(location, 30) + value(11, b"\x00\x00"),
        key(location, 5) + value(5, bytes.fromhex("0500000000f8ff7f")),  # a NaN's own bits
    )
    messages = {
        "connect-documented": request(8, sensor="A\U0001F600"),
        "get-supported-sensor-objects": request(1, sensor=""),
        "get-supported-properties": request(2),
        "get-supported-data-fields": request(3),
        "get-supported-events": request(4),
        "get-properties": request(5, collection(name, state, key(guid(0, 0, 0, *[0] * 8), 0))),
        "get-data-fields": request(6, collection(latitude)),
        "set-properties": request(7, every_value),
        "connect": request(8),
        "disconnect": request(9),
        "subscribe": request(10),
        "unsubscribe": request(11),
        "wait-for-event": request(12, sensor=""),
        "other-sensor": request(8, sensor="OtherSensor"),
        "client-session": request(8) + request(10) + request(12, sensor="") + request(5, collection(
            state)) + request(11) + request(9),
        "answer-get-properties-documented": answer(5, collection(state + value(19, b"\x03\0\0\0"))),
        "answer-sensor-objects": answer(1, collection(
            collection(key(object_id, 2) + value(31, text("FakeSensor")), name + value(
                31, text("Fake GPS"))), collection())),
        "answer-events": answer(4, collection(updated)),
        "answer-event": answer(12, struct.pack("<I", 3) + text("FakeSensor") + updated +
                               collection(key(event, 2) + value(72, updated),
                                          latitude + value(5, struct.pack("<d", 48.25)))),
        "answer-too-small": header(12, 0x8007007A, b"\0" * 5000),
        "answer-refusal": header(8, 0x8000FFFF, b""),
        "answer-refusal-with-body": header(8, 0x80004005, b"\0") + b"\0",
        "answer-too-small-with-body": header(8, 0x8007007A, b"\0" * 4) + b"\0",
        "answer-unknown-command": header(77, 0, b""),
    }
    base = request(5, collection(state), sensor="S")  # header 16 | "S" 6 | count 4 | key 20

    def edit(at, data, message=base, fix=False):
        changed = message[:at] + data + message[at + len(data):]
        if fix:
            changed = changed[:12] + struct.pack("<I", len(changed) - 16) + changed[16:]
        return changed

    over = base[:22] + struct.pack("<I", 4097) + odd * 4097
    messages.update({
        "bad-magic": edit(0, b"X"),
        "version-2": edit(4, b"\x02\x00"),
        "command-0": edit(6, b"\x00\x00"),
        "command-13": edit(6, b"\x0d\x00"),
        "status-in-request": edit(8, b"\x01"),
        "body-length-one-over": edit(12, struct.pack("<I", 31)),
        "body-length-one-under": edit(12, struct.pack("<I", 29)),
        "byte-after-the-payload": edit(0, b"", base + b"\0", fix=True),
        "key-count-past-the-bytes": edit(22, struct.pack("<I", 2)),
        "key-count-2-32-1": edit(22, struct.pack("<I", 0xFFFFFFFF)),
        "key-count-over-the-limit": edit(0, b"", over, fix=True),
        "sensor-id-past-the-bytes": edit(16, struct.pack("<I", 1000)),
        "sensor-id-nul": edit(20, b"\0\0"),
        "sensor-id-lone-high-surrogate": edit(20, b"\x3d\xd8"),
        "sensor-id-lone-low-surrogate": edit(20, b"\x00\xde"),
    })

    def set_value(data):
        body = text("S") + struct.pack("<I", 1) + odd + data
        return header(7, 0, body) + body

    messages.update({
        "value-ui4": set_value(b"\x13\x00\x01\x02\x03\x04"),
        "value-ui4-short": set_value(b"\x13\x00\x01\x02\x03"),
        "value-i2": set_value(b"\x02\x00\x01\x00"),
        "value-unknown": set_value(b"\x0d\x00"),
        "value-vector-of-r8": set_value(b"\x05\x10\x00\x00\x00\x00"),
        "value-bool-1": set_value(b"\x0b\x00\x01\x00"),
        "value-bytes-past-the-end": set_value(b"\x11\x10\x03\x00\x00\x00\x07\x08"),
        "value-bytes-2-32-1": set_value(b"\x11\x10\xff\xff\xff\xff"),
        "value-text-past-the-end": set_value(b"\x1f\x00\x09\x00\x00\x00a\x00"),
        "value-text-pair-reversed": set_value(b"\x1f\x00\x02\x00\x00\x00\x00\xde\x3d\xd8"),
        "value-clsid-short": set_value(b"\x48\x00\x01\x02\x03\x04\x05\x06\x07\x08"),
        "empty": b"",
    })
    for name, data in messages.items():
        write(folder, name, data)


if __name__ == "__main__":
    nmea_reader()
    line_sink()
    circular_buffer()
    host_framing()
    sensor_request()
