#!/usr/bin/env python3
"""The far end of serial_probe's line: a pseudo-terminal whose slave is
linked at LINK, echoing each piece it hears 100 ms later. Runs until killed.

    echo_peer.py LINK
"""
import os
import select
import sys
import time
import tty

master, slave = os.openpty()
tty.setraw(slave)  # kept open, so the line stays up between the probe's opens
os.symlink(os.ttyname(slave), sys.argv[1])
while True:
    select.select([master], [], [])
    try:
        heard = os.read(master, 256)
    except OSError:
        time.sleep(0.05)
        continue
    time.sleep(0.1)
    os.write(master, heard)
