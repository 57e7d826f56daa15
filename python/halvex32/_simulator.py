"""halvex-sim on a pseudo-terminal, for tests and examples."""

import atexit
import os
import shutil
import subprocess


def _find():
    named = os.environ.get("HALVEX_SIM")
    if named:
        return named
    found = shutil.which("halvex-sim")
    if not found:
        raise FileNotFoundError("halvex32: halvex-sim was not found on PATH (or in HALVEX_SIM)")
    return found


class Simulator:
    """A simulated receiver: Simulator(preset="modern", pace_baud=1200) runs
    `halvex-sim --preset modern --pace-baud 1200`; .port is its terminal."""

    def __init__(self, **options):
        self.arguments = []
        for name, value in options.items():
            flag = "--" + name.replace("_", "-")
            if value is True:
                self.arguments.append(flag)
            elif value is not False and value is not None:
                self.arguments += [flag, str(value)]
        self.process = None
        self.port = None

    def start(self):
        self.process = subprocess.Popen([_find()] + self.arguments, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        atexit.register(self.stop)  # a simulator never outlives the program that started it
        self.port = self.process.stdout.readline().strip()
        if not self.port:
            self.stop()
            raise RuntimeError("halvex32: halvex-sim did not start (its options: %s)" % " ".join(self.arguments))
        return self

    def stop(self):
        atexit.unregister(self.stop)
        if self.process:
            self.process.terminate()
            self.process.wait()
            self.process.stdout.close()
            self.process = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exception):
        self.stop()
