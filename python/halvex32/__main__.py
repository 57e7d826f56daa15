"""python3 -m halvex32 position --count 3 --port P: fixes as TPV JSON lines."""

import argparse
import json
import sys

import halvex32


def tpv(fix, device):
    out = {"class": "TPV", "device": device, "mode": fix.fix_mode or 0}
    if fix.time:
        out["time"] = fix.time.strftime("%Y-%m-%dT%H:%M:%S.") + "%03dZ" % (fix.time.microsecond // 1000)
    for name, value, scale in (("lat", fix.latitude, 1e9), ("lon", fix.longitude, 1e9), ("altMSL", fix.altitude, 1e3),
                               ("speed", fix.speed, 1e3), ("track", fix.course, 1e3), ("climb", fix.climb, 1e3),
                               ("eph", fix.eph, 1e3), ("epv", fix.epv, 1e3)):
        if value is not None:
            out[name] = round(value * scale) / scale
    if fix.satellites is not None:
        out["satellites_used"] = fix.satellites
    return json.dumps(out, separators=(",", ":"))


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m halvex32", description="the receiver's fixes as TPV JSON lines")
    commands = parser.add_subparsers(dest="command", required=True)
    position = commands.add_parser("position", help="show where the receiver is, fix by fix")
    position.add_argument("--port", required=True, help="serial device of the receiver, e.g. /dev/ttyUSB0")
    position.add_argument("--baud", type=int, default=9600)
    position.add_argument("--count", type=int, help="stop after this many fixes")
    position.add_argument("--nmea", action="store_true", help="from NMEA sentences instead of position reports")
    arguments = parser.parse_args(argv)
    try:
        with halvex32.open(arguments.port, arguments.baud) as rx:
            if arguments.nmea:
                sentences = rx.nmea()
                next(sentences)  # NMEA mode on
            else:
                rx.identify(timeout=20)
            for shown, fix in enumerate(rx.positions(timeout=15), start=1):
                print(tpv(fix, arguments.port), flush=True)
                if arguments.count and shown >= arguments.count:
                    break
    except halvex32.Error as error:
        print(f"halvex32: {error}", file=sys.stderr)
        return 4 if isinstance(error, (halvex32.NoAnswer, halvex32.NotReady)) else 3
    except TimeoutError as error:
        print(error, file=sys.stderr)
        return 4
    except KeyboardInterrupt:
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
