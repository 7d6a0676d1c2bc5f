"""Starting programs for the end-to-end harness: processes in their own session, their output in
files, time limits, the Wine loader of a program's bitness, and the start that never reached the
program, which is made again and recorded.

Nothing here knows about prefixes, displays or the message-box watcher: the callers pass the
environment, the command and where its output goes.
"""

import ctypes
import os
import signal
import subprocess
import sys

WINE64 = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"  # Debian's wine32:i386
WINESERVER = "wineserver"

# How many times in all a program is started while its starts never reach it.
START_ATTEMPTS = 3


class WineError(Exception):
    """The environment could not be set up or a Windows command could not be started."""


class RunTimeout(AssertionError):
    """A program ran past its time limit; it was killed. Counts as a test failure."""

    def __init__(self, message, result):
        super().__init__(message)
        self.result = result


class FailedStart:
    """A start that never reached its program and was made again: which program, its exit code,
    which start of that program it was, and detail (the watcher's log, for the watcher)."""

    def __init__(self, program, exit_code, attempt, detail="", before="it ran"):
        self.program = program
        self.exit_code = exit_code
        self.attempt = attempt  # 1 for the first start of that program in this run
        self.detail = detail
        self.before = before

    def __str__(self):
        return f"{self.program} exited with {self.exit_code} before {self.before}"

    def __repr__(self):
        return f"FailedStart({self.program!r}, {self.exit_code!r})"


class RunResult:
    """How one program ran: its exit code, the boxes the watcher saw (none when unwatched), its
    output, whether it was killed at its time limit, and its seconds. failed_starts lists every
    start made again on the way to this result (the program's own, the watcher's and those of the
    registry commands around the run), oldest first; attempts counts the program's starts."""

    def __init__(self, exit_code, boxes, stdout, stderr, timed_out=False, seconds=0.0,
                 failed_starts=(), attempts=1):
        self.exit_code = exit_code
        self.boxes = boxes
        self.stdout = stdout
        self.stderr = stderr
        self.timed_out = timed_out
        self.seconds = seconds
        self.failed_starts = list(failed_starts)
        self.attempts = attempts

    def __repr__(self):
        retried = f", failed_starts={self.failed_starts!r}" if self.failed_starts else ""
        return (f"RunResult(exit_code={self.exit_code!r}, boxes={self.boxes!r}, "
                f"stdout={self.stdout!r}, stderr={self.stderr!r}, timed_out={self.timed_out}"
                f"{retried})")


def never_started(result):
    """True for the way a start fails inside Wine's loader: exit 1 before the program's own code
    runs, so nothing printed (the loader's messages are off with WINEDEBUG=-all) and no box.
    None of the programs the tests run ends like that on its own (the updater's codes are 0 and
    the installer's, msiexec's are its own, the tools and reg print why they fail); "cmd /c exit
    1" does, and for it every attempt is made and the last result returned."""
    return (result.exit_code == 1 and not result.stdout and not result.stderr
            and not result.boxes)


def start_until_it_runs(program, start, record, made_again=never_started,
                        before=lambda result: "it ran"):
    """Calls start(), which runs one program to its end and gives its RunResult, up to
    START_ATTEMPTS times in all while made_again(result) holds: by default while the program
    never started. Each discarded start goes to record(FailedStart), told what it ended before
    (before(result)), and, with the failed starts inside it, into the returned result."""
    failed = []
    name = os.path.basename(program)
    for attempt in range(1, START_ATTEMPTS + 1):
        result = start()
        if not made_again(result) or attempt == START_ATTEMPTS:
            result.failed_starts = failed + result.failed_starts
            result.attempts = attempt
            return result
        failed += result.failed_starts
        failure = FailedStart(name, result.exit_code, attempt, before=before(result))
        failed.append(failure)
        record(failure)
    raise AssertionError("unreachable")


def say_on_stderr(failure):
    """The harness's record of a failed start that is about to be made again, on stderr."""
    print(f"harness: {failure} (start {failure.attempt} of at most {START_ATTEMPTS}); started "
          f"again", file=sys.stderr, flush=True)


def end_with_parent():
    """Runs in a child before exec: it gets SIGTERM when the harness dies without cleaning up."""
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


def kill_group(proc, sig=signal.SIGKILL):
    """Kills a process started in its own session together with everything it started."""
    try:
        os.killpg(proc.pid, sig)
    except (ProcessLookupError, PermissionError):
        pass


def read_text(path):
    with open(path, "rb") as f:
        return f.read().decode("utf-8", errors="replace")


class Processes:
    """The processes a WineEnv started and has not seen end: each in its own session, so that a
    time-out or close() ends it with everything it started."""

    def __init__(self):
        self._running = set()

    def spawn(self, command, env, cwd, out_path, err_path):
        # Output goes to files, not pipes: a Windows program may leave processes behind that
        # hold its standard handles, and a pipe would then never reach its end.
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            proc = subprocess.Popen(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err, start_new_session=True)
        self._running.add(proc)
        return proc

    def wait(self, proc, timeout):
        """Waits for proc to end; past timeout seconds kills its group. True when it was
        killed."""
        try:
            proc.wait(timeout=timeout)
            return False
        except subprocess.TimeoutExpired:
            kill_group(proc)
            proc.wait()
            return True
        finally:
            self._running.discard(proc)

    def forget(self, proc):
        self._running.discard(proc)

    def kill_all(self):
        for proc in list(self._running):
            kill_group(proc)
            proc.wait()
        self._running.clear()


def pe_bits(program):
    """32 or 64 for a PE file of that machine (i386 or x86-64), else None (not a file, not a PE
    image, or a name Wine resolves itself, such as "msiexec")."""
    try:
        with open(program, "rb") as f:
            head = f.read(1024)
    except OSError:
        return None
    if head[:2] != b"MZ" or len(head) < 0x40:
        return None
    offset = int.from_bytes(head[0x3C:0x40], "little")
    if offset + 6 > len(head) or head[offset:offset + 4] != b"PE\0\0":
        return None
    machine = int.from_bytes(head[offset + 4:offset + 6], "little")
    return {0x14C: 32, 0x8664: 64}.get(machine)


def loader_for(program):
    """The Wine loader for a program: the 32-bit one for a PE32 file, else the 64-bit one (which
    also starts Wine's own programs, such as "msiexec")."""
    return WINE32 if pe_bits(program) == 32 else WINE64
