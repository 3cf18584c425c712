#!/usr/bin/env python3
"""The native far end of a COM port for the Windows serial tests under Wine.

Makes a pty, links LINK to its slave (Wine's dosdevices/comN points there) and keeps a slave
descriptor open, so that the port can be opened and closed by the test without the line ever
hanging up. Then either echoes every byte (--echo) or, on a trigger byte, runs lrzsz's rx in
DIR and relays the line to it until rx ends: 'c' starts `rx -c` (CRC-16), 'n' plain `rx`
(checksum); other bytes between transfers are dropped. The file "ready" in DIR exists exactly
while the peer waits for a trigger, so that a test can wait for the last rx to be gone before it
starts the next one (a trigger sent earlier would reach the old rx).
"""
import argparse
import os
import select
import signal
import socket
import subprocess
import sys
import tty


def relay_to(master, process_socket):
    """Relays between the line and rx until rx closes its end."""
    try:
        while True:
            ready, _, _ = select.select([master, process_socket], [], [])
            if master in ready:
                data = os.read(master, 65536)
                if data:
                    process_socket.sendall(data)
            if process_socket in ready:
                data = process_socket.recv(65536)
                if not data:
                    return
                os.write(master, data)
    except (BrokenPipeError, ConnectionResetError):  # rx ended with bytes on their way to it
        return


def serve_rx(master, directory, rx):
    ready = os.path.join(directory, "ready")
    while True:
        open(ready, "wb").close()
        trigger = os.read(master, 1)
        if trigger not in (b"c", b"n"):
            continue
        os.unlink(ready)
        ours, theirs = socket.socketpair()
        command = [rx, "-b", "-y", "-q", "received.bin"]
        if trigger == b"c":
            command.insert(1, "-c")
        with open(os.path.join(directory, "rx.log"), "ab") as log:
            process = subprocess.Popen(command, cwd=directory, stdin=theirs, stdout=theirs, stderr=log)
        theirs.close()
        relay_to(master, ours)
        ours.close()
        process.wait()


def serve_echo(master):
    while True:
        data = os.read(master, 65536)
        if data:
            os.write(master, data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--link", required=True)
    parser.add_argument("--echo", action="store_true")
    parser.add_argument("--rx-dir")
    parser.add_argument("--rx", default="/usr/bin/rx")
    args = parser.parse_args()

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    master, slave = os.openpty()
    tty.setraw(master)
    tty.setraw(slave)
    slave_path = os.ttyname(slave)
    if os.path.lexists(args.link):
        os.unlink(args.link)
    os.symlink(slave_path, args.link)
    print(slave_path, flush=True)
    if args.echo:
        serve_echo(master)
    else:
        os.makedirs(args.rx_dir, exist_ok=True)
        serve_rx(master, args.rx_dir, args.rx)


if __name__ == "__main__":
    main()
