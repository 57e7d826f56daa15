import datetime
import os
import resource
import signal
import subprocess
import sys
import threading
import time

import pytest

import halvex32

UTC = datetime.timezone.utc


def test_identify_gives_the_product_and_its_types(receiver, preset):
    product = receiver.identify()
    assert product.id == (4242 if preset == "classic" else 4260) or product.description
    assert product.waypoint_type == (103 if preset == "classic" else 108)
    assert product.protocols[:2] == ["P000", "L001"]


def test_waypoints_routes_and_tracks_go_up_and_come_back(receiver, preset):
    sent = [halvex32.Waypoint("HOME", 51.5, -0.125, "NOTE", altitude=12.5, symbol=8255),
            halvex32.Waypoint("PARK", -33.75, 151.25)]
    receiver.put_waypoints(sent)
    back = receiver.waypoints(timeout=30)
    assert [(w.ident.strip(), round(w.latitude, 6), round(w.longitude, 6)) for w in back] == \
        [("HOME", 51.5, -0.125), ("PARK", -33.75, 151.25)]
    if preset == "modern":
        assert back[0].altitude == 12.5 and back[0].symbol == 8255 and back[1].altitude is None
    else:
        assert back[0].altitude is None, "D103 holds no altitude: None, not 0"

    receiver.put_routes([halvex32.Route(sent, number=3, name="WALK")])
    routes = receiver.routes(timeout=30)
    assert len(routes) == 1 and len(routes[0].waypoints) == 2
    assert routes[0].number == (3 if preset == "classic" else None)

    start = datetime.datetime(2026, 12, 1, 8, tzinfo=UTC)
    points = [halvex32.TrackPoint(45 + i / 1000, 7, start + datetime.timedelta(seconds=5 * i),
                                  track_name="MORNING" if i == 0 else None) for i in range(20)]
    receiver.put_track(points)
    seen = []
    back = list(receiver.track(progress=lambda done, total: seen.append((done, total))))
    assert [p.time for p in back] == [p.time for p in points], "true UTC, from the receiver's own epoch"
    assert seen[-1] == (20, 20)
    assert back[0].track_name == ("MORNING" if preset == "modern" else None)


def test_leaving_a_track_download_early_stops_it_and_the_port_goes_on(receiver):
    start = datetime.datetime(2026, 12, 1, tzinfo=UTC)
    receiver.put_track([halvex32.TrackPoint(1, 2, start + datetime.timedelta(seconds=i)) for i in range(200)])
    for count, _ in enumerate(receiver.track(), start=1):
        if count == 3:
            break
    assert receiver.identify(timeout=20).protocols, "the session is ready again"


def test_positions_in_binary_and_nmea_mode():
    with halvex32.Simulator() as simulator, halvex32.open(simulator.port) as rx:
        rx.identify(timeout=20)
        fixes = []
        for fix in rx.positions(timeout=15):
            fixes.append(fix)
            if len(fixes) == 2:
                break
        assert fixes[0].time.tzinfo is UTC and fixes[0].latitude is not None
        assert fixes[1].time > fixes[0].time
        assert rx.time(timeout=20).weeks_behind == 0
    with halvex32.Simulator(nmea=True, nmea_live=True) as simulator, halvex32.open(simulator.port) as rx:
        sentences = rx.nmea(timeout=15)
        assert next(sentences).startswith("$")
        fix = next(rx.positions(timeout=15))
        assert fix.latitude is not None and fix.time is not None


def test_faults_are_the_exceptions_a_user_catches():
    with halvex32.Simulator() as simulator:
        with halvex32.open(simulator.port):
            with pytest.raises(halvex32.PortInUse) as held:
                halvex32.open(simulator.port)
            assert held.value.code == 5 and "in use" in str(held.value)
    with pytest.raises(halvex32.NoDevice):
        halvex32.open("/dev/no-such-receiver")
    with halvex32.Simulator(silent=True) as simulator, halvex32.open(simulator.port) as rx:
        begun = time.monotonic()
        with pytest.raises(halvex32.NoAnswer):
            rx.identify(timeout=30)
        assert time.monotonic() - begun < 16, "the library's own time-out, not ours"
    with halvex32.Simulator(hang_up_after=4) as simulator, halvex32.open(simulator.port) as rx:
        rx.identify(timeout=20)
        with pytest.raises(halvex32.DeviceLost) as lost:
            rx.waypoints(timeout=30)
        assert lost.value.code == 1167
    with halvex32.Simulator(pace_baud=1200) as simulator, halvex32.open(simulator.port) as rx:
        rx.identify(timeout=20)
        with pytest.raises(TimeoutError):
            rx.put_waypoints([halvex32.Waypoint("W%03d" % i, 1, 1) for i in range(200)], timeout=0.5)
        assert rx.closed, "an operation cut off by its timeout leaves the port closed"


def test_many_cycles_leave_no_memory_or_threads_behind():
    with halvex32.Simulator() as simulator:
        def cycle():
            with halvex32.open(simulator.port) as rx:
                rx.identify(timeout=20)
        for _ in range(50):
            cycle()
        threads, memory = threading.active_count(), resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        for _ in range(1000):
            cycle()
        assert threading.active_count() == threads
        assert resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - memory < 8 * 1024, "kilobytes"


def test_two_receivers_at_once_from_two_threads():
    with halvex32.Simulator() as one, halvex32.Simulator(preset="modern") as two:
        found = {}

        def read(simulator):
            with halvex32.open(simulator.port) as rx:
                found[simulator.port] = rx.identify(timeout=20).waypoint_type
        threads = [threading.Thread(target=read, args=(s,)) for s in (one, two)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert found == {one.port: 103, two.port: 108}


def test_ctrl_c_during_a_download_ends_it_within_a_second():
    # 60 waypoints at 9600 baud take about 4 s to come down, an ACK after each.
    script = ("import halvex32, sys\n"
              "with halvex32.Simulator(pace_baud=9600) as s, halvex32.open(s.port) as rx:\n"
              "    rx.identify(timeout=20)\n"
              "    rx.put_waypoints([halvex32.Waypoint('W%03d' % i, 1, 1) for i in range(60)])\n"
              "    print('ready', flush=True)\n"
              "    try:\n"
              "        rx.waypoints()\n"
              "    except KeyboardInterrupt:\n"
              "        print('interrupted', rx.closed, flush=True)\n"
              "        raise\n")
    # A test runner started in the background of a shell has Ctrl-C ignored,
    # and a Python started so leaves it ignored: the child hears it as a user would.
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True, env=os.environ,
                             preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    assert child.stdout.readline().strip() == "ready"
    time.sleep(1)
    child.send_signal(signal.SIGINT)
    sent = time.monotonic()
    out, err = child.communicate(timeout=10)
    assert time.monotonic() - sent < 1.5
    assert "interrupted True" in out
    assert "KeyboardInterrupt" in err


def test_the_module_prints_tpv_lines():
    with halvex32.Simulator() as simulator:
        run = subprocess.run([sys.executable, "-m", "halvex32", "position", "--count", "3", "--port", simulator.port],
                             capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    assert len(lines) == 3 and all('"class":"TPV"' in line for line in lines)
