#!/usr/bin/env python3
"""Black-box checks of the Windows worker under Wine, driven from Linux as a
host application would drive it: through the stdio relay, which gives the
worker real Windows pipes (Wine cannot peek or cancel on the pipes a Linux
parent hands over). Prints one line per check; exits 1 if any check failed.

usage: windows-blackbox.py BUILD_DIR   (WINEPREFIX and WINEDEBUG from the caller)
"""
import fcntl
import json
import os
import subprocess
import sys
import tempfile
import time

BUILD = os.path.abspath(sys.argv[1])
WINE = os.environ.get("WINE", "/usr/lib/wine/wine64")
RELAY = [WINE, f"{BUILD}/kelvarn-stdio-relay.exe"]
PRODUCT = f"{BUILD}/kelvarn-remote-native.exe"
SCRIPTED = f"{BUILD}/kelvarn-remote-native-scripted.exe"

IDENTITY = {"accountId": "acct-1", "sessionId": "0b7d5f2e-93c4-4a1b-8e6f-2c9d1a7b3e50", "generation": "gen-1"}
WORKER_ERROR = b'{"code":"invalid_message","fatal":true,"type":"worker.error","version":1}\n'
USAGE = b"Usage: kelvarn-remote-native --loopback --timeout-ms 1000..30000\r\n"

failures = 0


def check(name, ok, detail=""):
    global failures
    print(f"{'ok  ' if ok else 'FAIL'} {name}" + ("" if ok else f": {detail}"))
    failures += 0 if ok else 1


def command(kind, request_id, **fields):
    message = {"version": 1, "type": kind, "requestId": request_id, **IDENTITY, **fields}
    return (json.dumps(message, separators=(",", ":")) + "\n").encode()


def start(program, *arguments, script="", relay=True, **kwargs):
    environment = dict(os.environ, KELVARN_SCRIPT=script)
    line = (RELAY if relay else [WINE]) + [program, *arguments]
    return subprocess.Popen(line, env=environment, stderr=subprocess.PIPE, **kwargs)


def read_line(process, timeout):
    """One line of the worker's output, or what came before the timeout."""
    deadline = time.monotonic() + timeout
    line = b""
    os.set_blocking(process.stdout.fileno(), False)
    while not line.endswith(b"\n") and time.monotonic() < deadline:
        byte = process.stdout.read(1)
        if byte == b"":
            break
        if byte is None:
            time.sleep(0.005)
            continue
        line += byte
    return line


def file_redirect():
    with tempfile.TemporaryFile() as stdin:
        stdin.write(command("peer.create", "c1", role="controller", iceServers=[]))
        stdin.seek(0)
        worker = start(SCRIPTED, "--serve", relay=False, stdin=stdin, stdout=subprocess.PIPE)
        out, _ = worker.communicate(timeout=30)
    check("stdin from a file: one worker.error line, exit 2", out == WORKER_ERROR and worker.returncode == 2,
          f"{out!r} exit {worker.returncode}")


def end_of_input():
    worker = start(SCRIPTED, "--serve", stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    out, err = worker.communicate(b"", timeout=30)
    check("end of input: nothing written, exit 0", out == b"" and err == b"" and worker.returncode == 0,
          f"{out!r} {err!r} exit {worker.returncode}")


def usage():
    worker = start(PRODUCT, "--serve", "x", stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    out, err = worker.communicate(b"", timeout=30)
    check("wrong command line: usage with CR LF, exit 2", out == b"" and err == USAGE and worker.returncode == 2,
          f"{out!r} {err!r} exit {worker.returncode}")


def scripted_session():
    worker = start(SCRIPTED, "--serve", stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    worker.stdin.write(command("peer.create", "c1", role="controller", iceServers=[]))
    worker.stdin.flush()
    created = read_line(worker, 15)
    worker.stdin.write(command("peer.close", "x1"))
    worker.stdin.flush()
    lines = [created]
    while b'"peer.closed"' not in lines[-1]:
        line = read_line(worker, 15)
        if not line:
            break
        lines.append(line)
    exit_code = worker.wait(timeout=15)
    ok = (b'"type":"peer.created"' in created and b'"requestId":"c1"' in created and
          b'"requestId":"x1"' in lines[-1] and b'"type":"peer.closed"' in lines[-1] and exit_code == 0)
    check("scripted session: peer.created, then peer.closed for peer.close, exit 0", ok, f"{lines!r} exit {exit_code}")


def stalled_reader():
    worker = start(SCRIPTED, "--serve", script="candidates=60", stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    fcntl.fcntl(worker.stdout.fileno(), fcntl.F_SETPIPE_SZ, 4096)
    began = time.monotonic()
    worker.stdin.write(command("peer.create", "c1", role="host", iceServers=[], capture={"fps": 30}))
    worker.stdin.flush()
    created = read_line(worker, 15)
    worker.stdin.write(command("peer.offer", "o1"))
    worker.stdin.flush()
    try:
        exit_code = worker.wait(timeout=20)
    except subprocess.TimeoutExpired:
        worker.kill()
        exit_code = None
    elapsed = time.monotonic() - began
    check(f"stalled reader: exit {exit_code} after {elapsed:.1f} s (2 or 3 within about 5 s)",
          b'"peer.created"' in created and exit_code in (2, 3) and elapsed < 11,
          f"exit {exit_code} after {elapsed:.1f} s")


def self_test():
    began = time.monotonic()
    worker = start(PRODUCT, "--loopback", "--timeout-ms", "20000", relay=False, stdin=subprocess.DEVNULL,
                   stdout=subprocess.PIPE)
    out, err = worker.communicate(timeout=60)
    elapsed = time.monotonic() - began
    try:
        result = json.loads(out)
    except ValueError:
        result = {}
    ok = (worker.returncode == 0 and result.get("success") is True and result.get("decodedFrames", 0) > 0 and
          result.get("codec") == "video/H264" and len(result.get("decodedCrc32", "")) == 8 and
          out.endswith(b"\r\n"))
    check(f"self-test: success with decoded frames and their CRC in {elapsed:.1f} s", ok,
          f"{out!r} {err[-2000:]!r} exit {worker.returncode}")


checks = (file_redirect, end_of_input, usage, scripted_session, stalled_reader, self_test)
for run in checks:
    try:
        run()
    except Exception as error:  # a hung or missing worker is a failed check, not a crash
        check(run.__name__, False, repr(error))
print(f"black-box checks: {len(checks) - failures} of {len(checks)} passed")
sys.exit(1 if failures else 0)
