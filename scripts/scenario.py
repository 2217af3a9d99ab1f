"""Runs a console program in a Wine prefix behind a pseudo-terminal.

Keys are typed when the program's console shows a prompt, as a person at the
keyboard would; the result has the console text with Wine's terminal escape
sequences removed, the exit code and the prefix for inspection.
"""

import fcntl
import os
import pty
import re
import select
import signal
import struct
import termios
import time

import wineprefix

# CSI sequences, OSC titles and the other two-byte escapes of Wine's console.
_ESCAPES = re.compile(rb"\x1b\[[0-?]*[ -/]*[@-~]|\x1b\][^\x07\x1b]*(\x07|\x1b\\)|\x1b[@-Z\\-_]")


# Wine's console draws a run of blanks as "erase to end of line, cursor forward n".
_CURSOR_FORWARD = re.compile(rb"\x1b\[K\x1b\[(\d*)C|\x1b\[(\d*)C")


def _blanks(match):
    count = match.group(1) if match.group(1) is not None else match.group(2)
    return b" " * int(count or b"1")


def strip_terminal(raw):
    text = _ESCAPES.sub(b"", _CURSOR_FORWARD.sub(_blanks, raw)).decode("utf-8", "replace")
    return text.replace("\r\n", "\n").replace("\r", "")


class ConsoleRun:
    def __init__(self, raw, exit_code, prefix):
        self.raw = raw
        self.exit_code = exit_code
        self.prefix = prefix

    @property
    def text(self):
        return strip_terminal(self.raw)

    @property
    def lines(self):
        return [line for line in self.text.split("\n") if line.strip()]


def run_console(prefix, argv, answers=(), timeout=180, dll_overrides=None):
    """Runs `wine argv...` in the prefix behind a terminal.

    answers: (prompt text, key) pairs, typed in order, each as soon as its
    prompt has appeared on the console after the previous key.
    dll_overrides: added to WINEDLLOVERRIDES, e.g. "services.exe=n,b".
    """
    env = prefix.env
    if dll_overrides:
        env["WINEDLLOVERRIDES"] += ";" + dll_overrides
    pid, fd = pty.fork()
    if pid == 0:
        try:
            # Wide enough that no console text wraps.
            fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 400, 0, 0))
            os.execvpe(wineprefix.WINE, [wineprefix.WINE] + list(argv), env)
        finally:
            os._exit(127)

    raw = b""
    pending = list(answers)
    seen = 0  # console text before this offset has answered an earlier prompt
    deadline = time.time() + timeout
    status = None
    try:
        while True:
            if time.time() > deadline:
                os.kill(pid, signal.SIGKILL)
                raise TimeoutError("console program did not finish: %r" % strip_terminal(raw))
            ready, _, _ = select.select([fd], [], [], 0.1)
            if ready:
                try:
                    chunk = os.read(fd, 65536)
                except OSError:
                    chunk = b""
                if not chunk:
                    break
                raw += chunk
            if pending:
                text = strip_terminal(raw)
                at = text.find(pending[0][0], seen)
                if at >= 0:
                    seen = at + len(pending[0][0])
                    time.sleep(0.2)  # let the program reach its key read
                    os.write(fd, pending.pop(0)[1].encode("utf-8"))
            if status is None:
                done, exited = os.waitpid(pid, os.WNOHANG)
                if done:
                    status = exited
            if status is not None and not ready:
                break  # exited, and everything it wrote has been read
    finally:
        os.close(fd)
    if status is None:
        _, status = os.waitpid(pid, 0)
    code = os.WEXITSTATUS(status) if os.WIFEXITED(status) else -1
    return ConsoleRun(raw, code, prefix)
