"""End-to-end harness: runs the real voltanis program on a pseudo-terminal.

Each session runs the program (path given as sys.argv[1] to every test file)
in a fresh temporary working directory, with the pseudo-terminal as its
controlling terminal and standard input, output and error.  The harness
sends keys, waits for expected text (failing with the screen so far),
collects everything printed and checks how the program ended.  The terminal
settings are read with `stty -g` on the terminal before the start and can be
compared after the end.

Printed text is compared with the program's own line ends: the terminal
turns each "\\n" into "\\r\\n" on the way out, and the harness turns that back.

Only the Python standard library is used.

    with Session(binary) as s:
        ports = s.start()              # banner, optional port selection
        s.expect_next(status_report(*ports))
        s.send("?")
        s.expect("CTRL-N change MIDIport")
        s.exit_via_prompt()            # ESC, prompt, Enter, status 0
"""

import contextlib
import fcntl
import os
import re
import resource
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import traceback

ESC = "\x1b"
ENTER = "\r"
BACKSPACE = "\x7f"

# function keys as an xterm sends them
XTERM_F = {
    1: "\x1bOP", 2: "\x1bOQ", 3: "\x1bOR", 4: "\x1bOS",
    5: "\x1b[15~", 6: "\x1b[17~", 7: "\x1b[18~", 8: "\x1b[19~",
    9: "\x1b[20~", 10: "\x1b[21~", 11: "\x1b[23~", 12: "\x1b[24~",
}

# how long after a lone ESC before the next key, so that the program can
# tell the ESC key from the start of a key sequence
ESC_PAUSE = 0.2

LOOPBACK = "Voltanis Loopback"
SELECT_PROMPT = "type selection number and finish with <ENTER>:"
EXIT_PROMPT = "EXIT? <ENTER>=exit  <SPACE>=continue"


def ctrl(letter):
    """The control character of a letter: ctrl('q') is 17."""
    return chr(ord(letter.upper()) & 0x1F)


def fkey(n):
    return XTERM_F[n]


class Failure(Exception):
    pass


def stty(fd, *args):
    r = subprocess.run(["stty"] + list(args), stdin=fd, capture_output=True, text=True)
    if r.returncode != 0:
        raise Failure("stty %s failed: %s" % (" ".join(args), r.stderr.strip()))
    return r.stdout.strip()


def status_report(out_no=0, in_no=0, mode_line=None):
    """The status report with both ports on the loopback and the settings
    at their defaults."""
    return ("\nMIDI OUT: #%d  %s\n" % (out_no, LOOPBACK)
            + "MIDI IN:  #%d  %s   (change with CTRL-N)\n" % (in_no, LOOPBACK)
            + "SysEx ID: 7d\n"
            + "number base is HEX (change to DECIMAL with &) \n"
            + (mode_line or "\nVOLTANIS mode 0:type MIDI MSG - display MIDI MSG(change with CTRL-Q,W,E,R)\n")
            + "display of Timing Clock and Active Sensing blocked (change with CTRL-G)\n")


def read_file(path):
    """The bytes of a file, or None when there is none."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


@contextlib.contextmanager
def scratch_dir(name):
    """A folder of a test's own, removed with everything in it at the end."""
    path = tempfile.mkdtemp(prefix="voltanis-e2e-%s-" % name)
    try:
        yield path
    finally:
        shutil.rmtree(path, ignore_errors=True)


def started(s):
    """Banner, selection, status report: the program waits in its loop.
    Returns the chosen (out, in) port numbers."""
    ports = s.start()
    s.expect_next(status_report(*ports))
    return ports


def describe_status(status):
    if os.WIFEXITED(status):
        return "exit status %d" % os.WEXITSTATUS(status)
    if os.WIFSIGNALED(status):
        return "killed by %s" % signal.Signals(os.WTERMSIG(status)).name
    return "status 0x%x" % status


class _Run:
    """A run of the program in a working folder: the caller's, or one of
    its own that goes with close()."""

    def __init__(self, workdir):
        self.own_dir = workdir is None
        self.workdir = workdir or tempfile.mkdtemp(prefix="voltanis-e2e-")

    def close(self):
        if self.own_dir:
            shutil.rmtree(self.workdir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


class Session(_Run):
    """The program on a pseudo-terminal.

    job_control: run it as a shell with job control would, in a process
    group of its own in the foreground of the terminal, so that CTRL-Z
    really stops it (a process group whose parent is outside the session
    is not stopped by the terminal's stop signals).

    files: {name: bytes} put in the working directory before the start.

    args: the program's command-line arguments (none by default).

    Text that is still being printed may end mid-line: wait for a line's
    end (expect) before taking it apart."""

    def __init__(self, binary, workdir=None, job_control=False, rows=24, cols=80, files=None, args=()):
        self.binary = os.path.abspath(binary)
        self.argv = [self.binary] + list(args)
        _Run.__init__(self, workdir)
        # files the program must find at its start (a preset, a file to
        # send): written before it runs, never racing its start-up
        for name, data in (files or {}).items():
            with open(os.path.join(self.workdir, name), "wb") as f:
                f.write(data.encode("latin-1") if isinstance(data, str) else data)
        self.raw = bytearray()
        self.pos = 0            # in text(): where the next expect begins
        self.status = None
        self.job_control = job_control
        self.master, self.slave = os.openpty()
        fcntl.ioctl(self.slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))
        self.stty_before = stty(self.slave, "-g")
        report_r, report_w = os.pipe()
        pid = os.fork()
        if pid == 0:
            try:
                os.close(report_r)
                self._child(report_w)
            finally:
                os._exit(127)
        os.close(report_w)
        self.child = pid
        self.report = report_r
        if job_control:
            line = self._report_line(10)
            self.pid = int(line)
        else:
            os.close(report_r)
            self.report = None
            self.pid = pid

    # -- starting ------------------------------------------------------------

    def _child(self, report_w):
        os.setsid()
        fcntl.ioctl(self.slave, termios.TIOCSCTTY, 0)
        for fd in (0, 1, 2):
            os.dup2(self.slave, fd)
        for fd in (self.master, self.slave):
            if fd > 2:
                os.close(fd)
        os.chdir(self.workdir)
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        # as a shell starts a program: no inherited ignored signals
        for sig in (signal.SIGPIPE, signal.SIGXFSZ, signal.SIGINT, signal.SIGQUIT,
                    signal.SIGTSTP, signal.SIGTTOU, signal.SIGTTIN):
            signal.signal(sig, signal.SIG_DFL)
        env = dict(os.environ, TERM="xterm")
        if not self.job_control:
            os.close(report_w)
            os.execve(self.binary, self.argv, env)
        # a job-control shell: the program in its own foreground group
        gc = os.fork()
        if gc == 0:
            os.close(report_w)
            os.setpgid(0, 0)
            signal.signal(signal.SIGTTOU, signal.SIG_IGN)
            os.tcsetpgrp(0, os.getpid())
            signal.signal(signal.SIGTTOU, signal.SIG_DFL)
            os.execve(self.binary, self.argv, env)
        try:
            os.setpgid(gc, gc)
        except OSError:
            pass
        os.write(report_w, b"%d\n" % gc)
        _, st = os.waitpid(gc, 0)
        os.write(report_w, b"%d\n" % st)
        os._exit(0)

    def _report_line(self, timeout):
        data = b""
        end = time.monotonic() + timeout
        while not data.endswith(b"\n"):
            left = end - time.monotonic()
            if left <= 0 or not select.select([self.report], [], [], left)[0]:
                raise Failure("the job-control shell did not report")
            chunk = os.read(self.report, 1)
            if not chunk:
                raise Failure("the job-control shell ended early")
            data += chunk
        return data.decode().strip()

    # -- output --------------------------------------------------------------

    def _read(self, timeout):
        r, _, _ = select.select([self.master], [], [], max(0.0, timeout))
        if not r:
            return False
        try:
            data = os.read(self.master, 65536)
        except OSError:
            return False
        self.raw += data
        return bool(data)

    def text(self):
        """Everything printed so far, with the program's own line ends."""
        return bytes(self.raw).replace(b"\r\n", b"\n").decode("latin-1")

    def screen(self, tail=3000):
        t = self.text()
        since = t[self.pos:]
        return ("--- printed since the last match (%d chars) ---\n%r\n--- all output, last %d chars ---\n%s"
                % (len(since), since[-tail:], tail, t[-tail:]))

    def expect_any(self, choices, timeout=10):
        """Waits until one of the texts appears after the last match.
        Returns (index, text before it, where it starts)."""
        end = time.monotonic() + timeout
        while True:
            t = self.text()
            best = None
            for i, c in enumerate(choices):
                at = t.find(c, self.pos)
                if at >= 0 and (best is None or at < best[1]):
                    best = (i, at)
            if best:
                i, at = best
                before = t[self.pos:at]
                self.pos = at + len(choices[i])
                return i, before, at
            left = end - time.monotonic()
            if left <= 0:
                raise Failure("timed out after %gs waiting for %s\n%s"
                              % (timeout, " or ".join(repr(c) for c in choices), self.screen()))
            self._read(min(left, 0.2))
            if self.status is None:
                self.poll()

    def expect(self, text, timeout=10):
        """Waits for text; returns what was printed before it."""
        return self.expect_any([text], timeout)[1]

    def expect_next(self, text, timeout=10):
        """The very next output must be exactly text."""
        end = time.monotonic() + timeout
        while len(self.text()) < self.pos + len(text) and time.monotonic() < end:
            self._read(min(end - time.monotonic(), 0.2))
        got = self.text()[self.pos:self.pos + len(text)]
        if got != text:
            raise Failure("expected next:\n%r\ngot:\n%r\n%s" % (text, got, self.screen()))
        self.pos += len(text)

    def quiet(self, seconds=0.3):
        """Collects output for a while; returns what came after the last match."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self._read(end - time.monotonic())
        return self.text()[self.pos:]

    # -- input ---------------------------------------------------------------

    def send(self, keys):
        if isinstance(keys, str):
            keys = keys.encode("latin-1")
        os.write(self.master, keys)

    def esc(self):
        """The ESC key on its own."""
        self.send(ESC)
        time.sleep(ESC_PAUSE)

    def record(self):
        """F9: the record file is opened and recording runs."""
        self.send(fkey(9))
        self.expect_next("-Recording\n")

    def send_file(self, name, key=7):
        """F7 (F6: slowly) and the file's name typed at the question."""
        self.send(fkey(key))
        self.expect("and finish with <ENTER>:\n")
        self.send(name + ENTER)

    def start(self, want=LOOPBACK, timeout=10):
        """Waits for the banner and answers the port selection, should it
        come, with the loopback port.  Leaves the position at the start of
        the status report; returns the chosen (out, in) port numbers."""
        chosen = {"OUT": 0, "IN": 0}
        while True:
            i, before, at = self.expect_any(
                [SELECT_PROMPT, "\nMIDI OUT: ", "no MIDI OUT available"], timeout)
            if i != 0:
                self.pos = at
                return chosen["OUT"], chosen["IN"]
            direction = "OUT" if "Select MIDI OUT device:" in before else "IN"
            m = re.search(r"# (\d+): %s \n" % re.escape(want), before)
            n = int(m.group(1)) if m else 0
            chosen[direction] = n
            self.send("%d%s" % (n, ENTER))

    def exit_via_prompt(self, timeout=10):
        self.esc()
        self.expect(EXIT_PROMPT, timeout)
        self.send(ENTER)
        self.expect_exit(0, timeout)

    # -- the end -------------------------------------------------------------

    def poll(self):
        """The program's raw wait status once it has ended, else None."""
        if self.status is not None:
            return self.status
        if self.job_control:
            if self.report is not None and select.select([self.report], [], [], 0)[0]:
                self.status = int(self._report_line(5))
                os.waitpid(self.child, 0)
        else:
            pid, st = os.waitpid(self.pid, os.WNOHANG)
            if pid == self.pid:
                self.status = st
        return self.status

    def wait(self, timeout=10):
        end = time.monotonic() + timeout
        while self.poll() is None:
            if time.monotonic() > end:
                raise Failure("the program did not end within %gs\n%s" % (timeout, self.screen()))
            self._read(0.05)
        while self._read(0.05):
            pass
        return self.status

    def expect_exit(self, code=0, timeout=10):
        st = self.wait(timeout)
        if not (os.WIFEXITED(st) and os.WEXITSTATUS(st) == code):
            raise Failure("expected exit status %d, got %s\n%s" % (code, describe_status(st), self.screen()))

    def expect_signal(self, sig, timeout=10):
        st = self.wait(timeout)
        if not (os.WIFSIGNALED(st) and os.WTERMSIG(st) == sig):
            raise Failure("expected the end by %s, got %s\n%s"
                          % (signal.Signals(sig).name, describe_status(st), self.screen()))

    def stty_now(self, *args):
        return stty(self.slave, *(args or ("-g",)))

    def expect_terminal_restored(self):
        now = self.stty_now()
        if now != self.stty_before:
            raise Failure("terminal settings changed:\nbefore %s\nafter  %s\nnow: %s"
                          % (self.stty_before, now, self.stty_now("-a")))

    def state(self):
        """The process state letter from /proc (R, S, T, ...)."""
        with open("/proc/%d/stat" % self.pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0]

    def close(self):
        if self.poll() is None:
            for pid in (self.pid, self.child):
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            try:
                self.wait(5)
            except Failure:
                pass
        for fd in (self.master, self.slave, self.report):
            if fd is not None:
                try:
                    os.close(fd)
                except OSError:
                    pass
        self.master = self.slave = self.report = None
        _Run.close(self)


class Piped(_Run):
    """The program with a pipe (or a file's bytes) as standard input and its
    output collected; finished when the constructor returns."""

    def __init__(self, binary, data=b"", timeout=20, workdir=None):
        _Run.__init__(self, workdir)
        if isinstance(data, str):
            data = data.encode("latin-1")
        try:
            r = subprocess.run([os.path.abspath(binary)], input=data, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, cwd=self.workdir, timeout=timeout,
                               start_new_session=True, env=dict(os.environ, TERM="xterm"))
        except subprocess.TimeoutExpired as e:
            raise Failure("the piped run did not end within %gs; output:\n%r"
                          % (timeout, (e.output or b"").decode("latin-1")[-3000:]))
        self.returncode = r.returncode
        self.text = r.stdout.decode("latin-1")


def check(cond, message):
    if not cond:
        raise Failure(message)


def run_tests(tests=None):
    """Runs each test function with the program's path (by default every
    test_ function of the test program, in the order written); prints one
    line per test and a summary, and exits 0 only when all passed."""
    if tests is None:
        tests = [f for name, f in vars(sys.modules["__main__"]).items()
                 if name.startswith("test_") and callable(f)]
    if len(sys.argv) < 2:
        print("usage: %s <path of the voltanis program>" % sys.argv[0])
        sys.exit(2)
    binary = sys.argv[1]
    if not os.access(binary, os.X_OK):
        print("FAIL: %s is not an executable program" % binary)
        sys.exit(1)
    passed = failed = 0
    for t in tests:
        name = t.__name__
        try:
            t(binary)
        except Failure as e:
            failed += 1
            print("FAIL %s: %s" % (name, e))
        except Exception:
            failed += 1
            print("FAIL %s: unexpected error\n%s" % (name, traceback.format_exc()))
        else:
            passed += 1
            print("PASS %s" % name)
        sys.stdout.flush()
    print("%d passed, %d failed" % (passed, failed))
    sys.exit(0 if failed == 0 else 1)
