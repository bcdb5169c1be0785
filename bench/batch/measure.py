#!/usr/bin/env python3
"""Runs a command and measures it from outside.

  measure.py peak -- CMD...        wall time and the peak of the summed resident
                                   memory of CMD and its child processes
  measure.py stop SECONDS -- CMD...  sends SIGINT after SECONDS and tells how
                                   long CMD took to end after it
Prints one line: key=value pairs.
"""
import os
import signal
import subprocess
import sys
import time


def tree_rss(root):
    """Resident bytes of root and every process below it."""
    children = {}
    rss = {}
    for pid in os.listdir('/proc'):
        if not pid.isdigit():
            continue
        try:
            with open(f'/proc/{pid}/status') as f:
                ppid = kb = 0
                for line in f:
                    if line.startswith('PPid:'):
                        ppid = int(line.split()[1])
                    elif line.startswith('VmRSS:'):
                        kb = int(line.split()[1])
            children.setdefault(ppid, []).append(int(pid))
            rss[int(pid)] = kb * 1024
        except (OSError, ValueError):
            continue
    total, todo = 0, [root]
    while todo:
        pid = todo.pop()
        total += rss.get(pid, 0)
        todo.extend(children.get(pid, []))
    return total


def main():
    mode = sys.argv[1]
    rest = sys.argv[2:]
    seconds = float(rest.pop(0)) if mode == 'stop' else 0.0
    command = rest[rest.index('--') + 1:]
    start = time.monotonic()
    proc = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if mode == 'peak':
        peak = 0
        while proc.poll() is None:
            peak = max(peak, tree_rss(proc.pid))
            time.sleep(0.02)
        err = proc.stderr.read()
        print(f'wall={time.monotonic() - start:.2f} peak={peak} status={proc.returncode}')
    else:
        time.sleep(seconds)
        sent = time.monotonic()
        proc.send_signal(signal.SIGINT)
        proc.wait()
        err = proc.stderr.read()
        print(f'stop_ms={(time.monotonic() - sent) * 1000:.0f} status={proc.returncode}')
    sys.stderr.write(err)


if __name__ == '__main__':
    main()
