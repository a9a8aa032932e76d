#!/usr/bin/python3
"""The snapshot's fields gathered with psutil, for comparison: identity, program, state,
threads, start, CPU and memory use, terminal, descriptor targets and IPv4 socket count.
Prints the median seconds of the gathering loop over the given number of rounds."""
import statistics
import sys
import time

import psutil


def gather():
    rows = []
    now = time.time()
    for p in psutil.process_iter():
        try:
            with p.oneshot():
                exe = p.exe()
                if not exe:
                    continue
                cpu = p.cpu_times()
                created = p.create_time()
                life = max(now - created, 0)
                busy = cpu.user + cpu.system
                rows.append((
                    p.pid, p.name(), exe, exe[: exe.rfind("/") + 1], " ".join(p.cmdline()),
                    p.ppid(), p.uids().real, time.ctime(created), p.terminal(), int(busy),
                    (int(busy) * 100 // int(life)) if int(life) > 0 else 0.0,
                    p.memory_percent(), len(p.connections(kind="inet4")), p.num_threads(),
                    p.status(), [f.path for f in p.open_files()],
                ))
        except (psutil.NoSuchProcess, psutil.AccessDenied, psutil.ZombieProcess):
            continue
    return rows


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    times = []
    count = 0
    for _ in range(rounds):
        start = time.perf_counter()
        count = len(gather())
        times.append(time.perf_counter() - start)
    print(f"{statistics.median(times):.6f} {count}")


if __name__ == "__main__":
    main()
