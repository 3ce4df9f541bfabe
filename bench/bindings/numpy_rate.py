"""Frames streamed into NumPy through the zelvik package: prints one JSON line with frames per second and
this process's CPU milliseconds per frame (the library's threads included). Run by bindings_bench, which
sets ZELVIK_ROOT, ZELVIK_SDK_LIBRARY and PYTHONPATH."""

import argparse
import json
import resource
import time

import zelvik


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--frames", type=int, default=60)
    parser.add_argument("--warmup", type=int, default=5)
    arguments = parser.parse_args()
    with zelvik.Camera() as cam:
        cam.bits = 24
        with cam.stream() as stream:
            for _ in range(arguments.warmup):
                stream.read()
            cpu, wall = cpu_seconds(), time.monotonic()
            checksum = 0
            for _ in range(arguments.frames):
                frame = stream.read()
                checksum += int(frame[0, 0, 0])  # the frame is read, as an application would
            wall, cpu = time.monotonic() - wall, cpu_seconds() - cpu
            print(json.dumps({"fps": arguments.frames / wall, "cpu_ms": 1000 * cpu / arguments.frames,
                              "shape": list(frame.shape), "skipped": stream.skipped, "checksum": checksum}))


if __name__ == "__main__":
    main()
