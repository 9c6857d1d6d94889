#!/usr/bin/env python3
"""Starts a JDWP server and runs the com.sun.jdi client WalkProgram against it.

    jdi_walk.py --java J --client-classes D --class-path P [--main C] -- <server...>

Exit status: the client's (0: every class, method, line table and variable table offered matches its class file),
77 when java is missing (a skip).
"""
import argparse
import shutil
import subprocess
import sys

from jdb_session import WAIT_SECONDS, start_server, stop_server


def main():
    argv = sys.argv[1:]
    if "--" not in argv:
        raise SystemExit(__doc__)
    split = argv.index("--")
    parser = argparse.ArgumentParser()
    parser.add_argument("--java", default="java")
    parser.add_argument("--client-classes", required=True)
    parser.add_argument("--class-path", required=True, help="the class directories, ':' between")
    parser.add_argument("--main", help="for a desktop JVM: run until this class is loaded")
    args = parser.parse_args(argv[:split])
    if shutil.which(args.java) is None:
        print(f"skipped: {args.java} not found (Debian: apt-get install openjdk-17-jdk-headless)")
        return 77
    server, port = start_server(argv[split + 1:])
    try:
        client = [args.java, "-cp", args.client_classes, "WalkProgram", str(port), args.class_path]
        if args.main:
            client.append(args.main)
        result = subprocess.run(client, timeout=WAIT_SECONDS * 4)
        return result.returncode
    finally:
        stop_server(server)


if __name__ == "__main__":
    sys.exit(main())
