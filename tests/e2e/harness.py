"""Runs Windows programs under Wine for the end-to-end tests and records their message boxes.

A WineEnv owns everything it starts: an Xvfb server, a private WINEPREFIX in a temporary folder
and one persistent wineserver for it. Each run starts the message-box watcher (tools/boxwatch)
beside the program, so a program that reports through message boxes runs to its end without a
person, and the test gets every box it showed.

The updater comes in two builds: x86 (the shipped PE32 executable) and x64. `builds_under_test()`
names those this machine runs: x86 wherever the kernel runs 32-bit programs (scripts/x86-probe),
and x64 always. A test class decorated with `@each_build` runs once per build under test, as
`Name_x86` and `Name_x64`, with `cls.build` naming its build; while it runs, `current_build()` is
that build, so updates.build_update() and `updater_artefact()` pick it without being told.
Elsewhere `current_build()` is the first build under test: x86 where it runs. Test tools (the
watcher, make_patch, msiquery) stay 64-bit: `artefact()` finds them in the x64 build. Each
program runs under the Wine loader of its own bitness (`loader_for()`).

Environment variables read here:
  UPDATER_BUILD_X64      build folder of the x86_64 mingw build (default build/x64); the watcher
                         is looked for in its tools/boxwatch sub-folder
  UPDATER_BUILD_X86      build folder of the i686 mingw build (default build/x86); the 32-bit
                         half of the watcher (boxhook32.exe, boxhook.dll) is in its
                         tools/boxwatch sub-folder
  UPDATER_BUILDS         "x86", "x64" or "x86,x64": the builds under test, instead of what the
                         probe finds (x86 named on a kernel that refuses it fails, never skips)
  BOXWATCH_DIR           folder holding boxwatch.exe and boxhook.dll, when not under the above
  E2E_WINE_PREFIX_CACHE  folder of a prepared prefix to copy instead of creating one; when it does
                         not exist yet, the newly created prefix is stored there for next time
  E2E_KEEP_TEMP          "1" keeps the temporary folder (prefix, box logs) to look at afterwards
"""

import atexit
import copy
import ctypes
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE64 = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"  # Debian's wine32:i386
WINESERVER = "wineserver"
X86_PROBE = os.path.join(ROOT, "scripts", "x86-probe")

# Wine's X11 driver waits up to two seconds for a window manager to acknowledge each window that
# is hidden; Xvfb has none, so every closed message box would cost two seconds. Unmanaged windows
# are not waited for.
_REGISTRY_SETUP = [
    ["reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"],
]

# Wine takes TMP and TEMP from HKCU\Environment and ignores the Unix environment's values, so a
# run that asks for its own TMP gets it through the registry, restored afterwards.
_REGISTRY_ENV_VARS = ("TMP", "TEMP")


class WineError(Exception):
    """The environment could not be set up or a Windows command could not be started."""


class RunTimeout(AssertionError):
    """A program ran past its time limit; it was killed. Counts as a test failure."""

    def __init__(self, message, result):
        super().__init__(message)
        self.result = result


class RunResult:
    def __init__(self, exit_code, boxes, stdout, stderr, timed_out=False, seconds=0.0):
        self.exit_code = exit_code
        self.boxes = boxes
        self.stdout = stdout
        self.stderr = stderr
        self.timed_out = timed_out
        self.seconds = seconds

    def __repr__(self):
        return (f"RunResult(exit_code={self.exit_code!r}, boxes={self.boxes!r}, "
                f"stdout={self.stdout!r}, stderr={self.stderr!r}, timed_out={self.timed_out})")


def _find_boxwatch_dir():
    candidates = []
    if os.environ.get("BOXWATCH_DIR"):
        candidates.append(os.environ["BOXWATCH_DIR"])
    if os.environ.get("UPDATER_BUILD_X64"):
        candidates.append(os.path.join(os.environ["UPDATER_BUILD_X64"], "tools", "boxwatch"))
    for folder in candidates:
        if os.path.isfile(os.path.join(folder, "boxwatch.exe")):
            return os.path.abspath(folder)
    raise WineError("boxwatch.exe not found; set UPDATER_BUILD_X64 to the x86_64 build folder "
                    f"or BOXWATCH_DIR to the folder holding it (looked in: {candidates or 'none'})")


def _end_with_parent():
    """Runs in a child before exec: it gets SIGTERM when the harness dies without cleaning up."""
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


_ROOT_PREFIX = "e2e-wine-"
_OWNER_FILE = "owner.pid"
_KEPT_FILE = "kept"  # E2E_KEEP_TEMP asked for the folder to stay


def _sweep_abandoned_roots():
    """Removes the folders of environments whose harness was killed outright (SIGKILL), with the
    Wine processes still running in their prefixes. Xvfb and the wineserver end with the harness;
    the prefix's system processes (services.exe and the like) do not."""
    base = tempfile.gettempdir()
    for name in os.listdir(base):
        root = os.path.join(base, name)
        if not name.startswith(_ROOT_PREFIX) or not os.path.isdir(root):
            continue
        if os.path.exists(os.path.join(root, _KEPT_FILE)):
            continue
        try:
            with open(os.path.join(root, _OWNER_FILE)) as f:
                owner = int(f.read().strip())
            os.kill(owner, 0)
            continue  # its harness is alive
        except FileNotFoundError:
            if time.time() - os.path.getmtime(root) < 60:
                continue  # another harness may be setting it up right now
        except (OSError, ValueError):
            pass
        _kill_prefix_processes(os.path.join(root, "prefix"))
        shutil.rmtree(root, ignore_errors=True)


def _kill_prefix_processes(prefix):
    """Kills every process whose environment names this WINEPREFIX."""
    entry = f"WINEPREFIX={prefix}".encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                if entry in f.read().split(b"\0"):
                    os.kill(int(pid), signal.SIGKILL)
        except OSError:
            pass


def _kill_group(proc, sig=signal.SIGKILL):
    """Kills a process started in its own session together with everything it started."""
    try:
        os.killpg(proc.pid, sig)
    except (ProcessLookupError, PermissionError):
        pass


class WineEnv:
    """A private Wine installation with a display. Use as a context manager or call close()."""

    def __init__(self, prefix_cache=None, boxwatch_dir=None, keep_temp=None):
        self.prefix_cache = prefix_cache or os.environ.get("E2E_WINE_PREFIX_CACHE") or None
        self._boxwatch_dir = boxwatch_dir
        self.keep_temp = (os.environ.get("E2E_KEEP_TEMP") == "1") if keep_temp is None \
            else keep_temp
        self.root = None
        self.prefix = None
        self.display = None
        self.temp_dir = None
        self.startup_seconds = None
        self._xvfb = None
        self._wineserver = None
        self._running = set()
        self._run_count = 0
        self._original_env_values = {}
        self._closed = False
        self.x86_checked = False

    # ----------------------------------------------------------------- set-up and tear-down

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def start(self):
        started = time.monotonic()
        atexit.register(self.close)
        try:
            self.boxwatch_dir = self._boxwatch_dir or _find_boxwatch_dir()
            _sweep_abandoned_roots()
            self.root = tempfile.mkdtemp(prefix=_ROOT_PREFIX)
            with open(os.path.join(self.root, _OWNER_FILE), "w") as f:
                f.write(str(os.getpid()))
            self.prefix = os.path.join(self.root, "prefix")
            self._start_xvfb()
            self._make_prefix()
            self._wineserver = subprocess.Popen(
                [WINESERVER, "-f", "-p"], env=self._base_env(), stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True,
                preexec_fn=_end_with_parent)
            self._warm_up()
            self._read_temp_settings()
        except BaseException:
            self.close()
            raise
        self.startup_seconds = time.monotonic() - started

    def close(self):
        if self._closed:
            return
        self._closed = True
        for proc in list(self._running):
            _kill_group(proc)
            proc.wait()
        self._running.clear()
        if self.prefix and os.path.isdir(self.prefix):
            try:
                subprocess.run([WINESERVER, "-k"], env=self._base_env(),
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=30, check=False)
            except subprocess.TimeoutExpired:
                pass
        if self._wineserver:
            try:
                self._wineserver.wait(timeout=10)
            except subprocess.TimeoutExpired:
                _kill_group(self._wineserver)
                self._wineserver.wait()
        if self.prefix:
            _kill_prefix_processes(self.prefix)  # whatever outlived its wineserver
        if self._xvfb:
            self._xvfb.terminate()
            try:
                self._xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self._xvfb.kill()
                self._xvfb.wait()
        if self.root and self.keep_temp:
            open(os.path.join(self.root, _KEPT_FILE), "w").close()
        elif self.root:
            shutil.rmtree(self.root, ignore_errors=True)
        atexit.unregister(self.close)

    def _base_env(self):
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": self.prefix,
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "DISPLAY": self.display or "",
        })
        env.pop("WINELOADER", None)
        env.pop("WINESERVER", None)
        return env

    def _start_xvfb(self):
        # Xvfb picks a free display itself and reports its number on the pipe once it accepts
        # connections, so there is no race with other servers on this machine.
        read_end, write_end = os.pipe()
        try:
            self._xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                 "-nolisten", "tcp"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, start_new_session=True, preexec_fn=_end_with_parent)
            os.close(write_end)
            write_end = None
            number = b""
            deadline = time.monotonic() + 30
            while not number.endswith(b"\n"):
                remaining = deadline - time.monotonic()
                if remaining <= 0 or not select.select([read_end], [], [], remaining)[0]:
                    raise WineError("Xvfb did not report a display within 30 s")
                chunk = os.read(read_end, 16)
                if not chunk:
                    raise WineError("Xvfb exited before reporting a display")
                number += chunk
            self.display = ":" + number.decode().strip()
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)

    def _make_prefix(self):
        cache = self.prefix_cache
        # A prefix made before the 32-bit Wine was installed cannot run 32-bit programs.
        needs_wow64 = os.path.exists(WINE32)
        if cache and os.path.isfile(os.path.join(cache, "system.reg")) and (
                not needs_wow64 or os.path.isdir(os.path.join(cache, "drive_c", "windows",
                                                              "syswow64"))):
            subprocess.run(["cp", "-a", cache, self.prefix], check=True)
            return
        if cache and os.path.exists(cache):
            cache = None  # made without 32-bit support: left alone, and a new prefix made
        os.makedirs(self.prefix)
        self._check([WINE64, "wineboot", "-i"], "wineboot -i", timeout=300)
        for command in _REGISTRY_SETUP:
            self._check([WINE64] + command, " ".join(command[:2]), timeout=60)
        # Let the transient server save the registry and exit, so that the prefix on disk is
        # complete before it is copied or used with the persistent server.
        self._check([WINESERVER, "-w"], "wineserver -w", timeout=60)
        if cache:
            staging = tempfile.mkdtemp(prefix=".staging-", dir=os.path.dirname(
                os.path.abspath(cache)) or ".")
            subprocess.run(["cp", "-a", self.prefix, os.path.join(staging, "prefix")], check=True)
            try:
                os.rename(os.path.join(staging, "prefix"), cache)
            except OSError:
                pass  # another run stored it first
            shutil.rmtree(staging, ignore_errors=True)

    def _warm_up(self):
        # The first Wine process of a server starts the system processes (services, devices,
        # the desktop's explorer), which inherit its standard handles and outlive it. Starting
        # them here with nothing attached keeps them off the output files of later runs. The
        # watcher creates the desktop; its stop file exists already, so it leaves at once.
        stop = os.path.join(self.root, "warm-up.stop")
        open(stop, "wb").close()
        command = [WINE64, os.path.join(self.boxwatch_dir, "boxwatch.exe"),
                   "--out", self.to_windows_path(os.path.join(self.root, "warm-up.jsonl")),
                   "--stop-file", self.to_windows_path(stop)]
        proc = subprocess.run(command, env=self._base_env(), stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120,
                              check=False)
        if proc.returncode != 0:
            raise WineError(f"boxwatch.exe failed with {proc.returncode} on its first start")

    def _spawn(self, command, env, cwd, out_path, err_path):
        # Output goes to files, not pipes: a Windows program may leave processes behind that
        # hold its standard handles, and a pipe would then never reach its end.
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            proc = subprocess.Popen(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err, start_new_session=True)
        self._running.add(proc)
        return proc

    def _check(self, command, what, timeout):
        """Runs a command of the set-up to its end; WineError unless it exits with 0."""
        result = _started(what, lambda: self._check_once(command, what, timeout))
        if result.exit_code != 0:
            raise WineError(f"{what} failed with {result.exit_code}: {result.stderr[-2000:]}")
        return subprocess.CompletedProcess(command, result.exit_code, result.stdout,
                                           result.stderr)

    def _check_once(self, command, what, timeout):
        folder = tempfile.mkdtemp(prefix="cmd-", dir=self.root)
        out_path, err_path = os.path.join(folder, "stdout"), os.path.join(folder, "stderr")
        proc = self._spawn(command, self._base_env(), None, out_path, err_path)
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            _kill_group(proc)
            proc.wait()
            raise WineError(f"{what} did not finish within {timeout} s")
        finally:
            self._running.discard(proc)
        stdout, stderr = _read(out_path), _read(err_path)
        shutil.rmtree(folder, ignore_errors=True)
        return RunResult(proc.returncode, [], stdout, stderr)

    def _read_temp_settings(self):
        self._original_env_values = {}
        for name in _REGISTRY_ENV_VARS:
            proc = self._check([WINE64, "reg", "query", r"HKCU\Environment", "/v", name],
                               "reg query", timeout=60)
            match = re.search(rf"^\s*{name}\s+(REG_\w+)\s+(.*?)\s*$", proc.stdout,
                              re.MULTILINE)
            if match:
                self._original_env_values[name] = (match.group(1), match.group(2))
        proc = self._check([WINE64, "cmd", "/c", "echo %TMP%"], "cmd", timeout=60)
        self.temp_dir = self.from_windows_path(proc.stdout.strip())
        os.makedirs(self.temp_dir, exist_ok=True)

    # ---------------------------------------------------------------------------- paths

    @property
    def drive_c(self):
        return os.path.join(self.prefix, "drive_c")

    def to_windows_path(self, unix_path):
        path = os.path.abspath(unix_path)
        drive_c = os.path.realpath(self.drive_c)
        real = os.path.realpath(path)
        for base in (self.drive_c, drive_c):
            if path == base or path.startswith(base + os.sep):
                return "C:\\" + path[len(base):].lstrip(os.sep).replace("/", "\\")
            if real == base or real.startswith(base + os.sep):
                return "C:\\" + real[len(base):].lstrip(os.sep).replace("/", "\\")
        return "Z:" + path.replace("/", "\\")

    def from_windows_path(self, windows_path):
        match = re.match(r"^([A-Za-z]):[\\/]?(.*)$", windows_path)
        if not match:
            raise ValueError(f"not an absolute Windows path: {windows_path!r}")
        drive = match.group(1).lower()
        parts = [p for p in re.split(r"[\\/]+", match.group(2)) if p]
        root = os.path.realpath(os.path.join(self.prefix, "dosdevices", drive + ":"))
        return _resolve_case_insensitive(root, parts)

    # ------------------------------------------------------------------------- running

    def run(self, exe, args=(), timeout=120, extra_env=None, cwd=None, watcher_args=(),
            hook_bits=None):
        """Runs a Windows program with the message-box watcher; returns a RunResult.

        `exe` is a Unix path (or a name Wine finds, such as "msiexec"); `args` are passed as they
        are. A run that is still going after `timeout` seconds is killed and RunTimeout raised.
        `extra_env` adds to the environment; TMP and TEMP in it go through the registry.
        The watcher hooks the programs of one bitness, `hook_bits` (32 or 64): by default that
        of `exe` as its PE header gives it; a launcher of the other bitness that starts the
        program showing the boxes names that program's bitness here.
        """
        bits = hook_bits or pe_bits(exe) or 64
        return _started(exe, lambda: self._execute([exe, *args], timeout, extra_env, cwd,
                                                   watch=True, watcher_args=watcher_args,
                                                   hook_bits=bits))

    def wine(self, args, timeout=120, extra_env=None, cwd=None, watch=False):
        """Runs any Windows command line in the prefix, e.g. ["msiexec", "/i", path, "/qn"]."""
        bits = pe_bits(args[0]) or 64
        return _started(args[0], lambda: self._execute(list(args), timeout, extra_env, cwd,
                                                       watch=watch, watcher_args=(),
                                                       hook_bits=bits))

    def _execute(self, command, timeout, extra_env, cwd, watch, watcher_args, hook_bits):
        if self._closed or not self._wineserver:
            raise WineError("WineEnv is not running")
        self._run_count += 1
        run_dir = os.path.join(self.root, "runs", f"{self._run_count:04d}")
        os.makedirs(run_dir)
        env = self._base_env()
        registry_values = {}
        for key, value in (extra_env or {}).items():
            if key.upper() in _REGISTRY_ENV_VARS:
                registry_values[key.upper()] = value
            else:
                env[key] = value
        watcher = None
        started = time.monotonic()
        try:
            self._set_registry_env(registry_values)
            if watch:
                watcher = self._start_watcher(run_dir, watcher_args, hook_bits)
            out_path = os.path.join(run_dir, "stdout")
            err_path = os.path.join(run_dir, "stderr")
            proc = self._spawn([loader_for(command[0]), *command], env, cwd, out_path, err_path)
            timed_out = False
            try:
                proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                timed_out = True
                _kill_group(proc)
                proc.wait()
            finally:
                self._running.discard(proc)
            stdout, stderr = _read(out_path), _read(err_path)
            seconds = time.monotonic() - started
            boxes = self._stop_watcher(watcher, run_dir) if watcher else []
            watcher = None
        finally:
            if watcher:  # the run failed; its own error is the one to report
                try:
                    self._stop_watcher(watcher, run_dir)
                except WineError:
                    pass
            self._set_registry_env({k: None for k in registry_values})
        result = RunResult(proc.returncode, boxes, stdout, stderr, timed_out, seconds)
        if timed_out:
            raise RunTimeout(f"{command[0]} did not finish within {timeout} s and was killed; "
                             f"boxes seen: {boxes!r}", result)
        return result

    def _start_watcher(self, run_dir, watcher_args, hook_bits):
        # Wine now and then fails to start a process at all (the loader exits with 1 before the
        # program runs); the watcher is test machinery, so such a start is tried again.
        for attempt in range(1, 4):
            watcher, error = self._try_start_watcher(run_dir, watcher_args, hook_bits)
            if watcher:
                return watcher
            if attempt == 3:
                raise WineError(error)
        raise AssertionError("unreachable")

    def _try_start_watcher(self, run_dir, watcher_args, hook_bits):
        ready = os.path.join(run_dir, "watcher.ready")
        log = os.path.join(run_dir, "watcher.log")
        command = [WINE64, os.path.join(self.boxwatch_dir, "boxwatch.exe"),
                   "--out", self.to_windows_path(os.path.join(run_dir, "boxes.jsonl")),
                   "--stop-file", self.to_windows_path(os.path.join(run_dir, "watcher.stop")),
                   "--ready-file", self.to_windows_path(ready), *watcher_args]
        if hook_bits == 32 and "--no-hook" not in watcher_args:
            command += ["--hook32", self.to_windows_path(self.hook32_helper())]
        watcher = self._spawn(command, self._base_env(), None, os.devnull, log)
        deadline = time.monotonic() + 30
        while not os.path.exists(ready):
            if watcher.poll() is not None:
                self._running.discard(watcher)
                return None, (f"boxwatch exited with {watcher.returncode} before it was ready: "
                              f"{_read(log)[-2000:]}")
            if time.monotonic() > deadline:
                _kill_group(watcher)
                watcher.wait()
                self._running.discard(watcher)
                raise WineError("boxwatch was not ready within 30 s")
            time.sleep(0.005)
        return watcher, None

    @staticmethod
    def hook32_helper():
        """The watcher's 32-bit hook holder (x86 build), which gives boxes of 32-bit programs
        their exact flags."""
        return BUILDS["x86"].artefact_or_error("tools", "boxwatch", "boxhook32.exe")

    def _stop_watcher(self, watcher, run_dir):
        with open(os.path.join(run_dir, "watcher.stop"), "wb"):
            pass
        try:
            watcher.wait(timeout=15)
        except subprocess.TimeoutExpired:
            _kill_group(watcher)
            watcher.wait()
            raise WineError("boxwatch did not stop within 15 s of its stop file appearing")
        finally:
            self._running.discard(watcher)
        if watcher.returncode != 0:
            raise WineError(f"boxwatch failed with {watcher.returncode}: "
                            f"{_read(os.path.join(run_dir, 'watcher.log'))[-2000:]}")
        boxes = []
        path = os.path.join(run_dir, "boxes.jsonl")
        if os.path.exists(path):
            with open(path, encoding="utf-8") as f:
                boxes = [json.loads(line) for line in f if line.strip()]
        return boxes

    def _set_registry_env(self, values):
        """Sets (or, for None, restores) TMP/TEMP in HKCU\\Environment."""
        for name, value in values.items():
            if value is None:
                original = self._original_env_values.get(name)
                if original:
                    command = ["reg", "add", r"HKCU\Environment", "/v", name, "/t", original[0],
                               "/d", original[1], "/f"]
                else:
                    command = ["reg", "delete", r"HKCU\Environment", "/v", name, "/f"]
            else:
                command = ["reg", "add", r"HKCU\Environment", "/v", name, "/t", "REG_SZ", "/d",
                           value, "/f"]
            self._check([WINE64] + command, "reg", timeout=60)


# Wine now and then fails to start a process at all: the loader exits with 1 before the program's
# own code runs, printing nothing (its messages are off with WINEDEBUG=-all). Rare, and seen on
# every kind of start: the watcher, a program under test, reg.exe restoring TMP, each once in a
# full run; never in 600 starts made to find it, loaded or not. So every start the harness makes
# goes through _started(), which starts a program again when it exited with 1 having printed
# nothing and shown no box, and says so on the runner's stderr. None of the programs the tests
# run exits like that on its own (the updater's codes are 0 and the installer's, msiexec's are
# its own, the tools and reg print why they fail); "cmd /c exit 1" does, and for it a second
# start changes nothing.
_START_ATTEMPTS = 3


def _never_started(result):
    return (result.exit_code == 1 and not result.stdout and not result.stderr
            and not result.boxes)


def _started(name, start):
    """Calls start(), which runs one program to its end and gives its RunResult, again while the
    program never started; the last result otherwise."""
    for attempt in range(1, _START_ATTEMPTS + 1):
        result = start()
        if not _never_started(result) or attempt == _START_ATTEMPTS:
            return result
        print(f"harness: {os.path.basename(name)} exited with 1 before it ran (no output, no "
              f"box); started again, attempt {attempt + 1} of {_START_ATTEMPTS}",
              file=sys.stderr, flush=True)
    raise AssertionError("unreachable")


def _read(path):
    with open(path, "rb") as f:
        return f.read().decode("utf-8", errors="replace")


def _resolve_case_insensitive(root, parts):
    """Joins parts onto root, matching each existing component the way Windows does."""
    path = root
    for i, part in enumerate(parts):
        candidate = os.path.join(path, part)
        if not os.path.exists(candidate) and os.path.isdir(path):
            matches = [n for n in os.listdir(path) if n.lower() == part.lower()]
            if matches:
                candidate = os.path.join(path, matches[0])
        path = candidate
    return path


# ------------------------------------------------------------- shared environment for a run

_shared_env = None


def set_shared_env(env):
    global _shared_env
    _shared_env = env


def shared_env():
    """The WineEnv of this test run (made by run_all.py; made on first use otherwise)."""
    global _shared_env
    if _shared_env is None:
        env = WineEnv()
        env.start()
        _shared_env = env
    return _shared_env


def artefact(*relative):
    """Path of a built file under UPDATER_BUILD_X64 (the test tools: watcher, showboxes);
    fails the calling test when it is missing."""
    build = os.environ.get("UPDATER_BUILD_X64")
    if not build:
        raise AssertionError("UPDATER_BUILD_X64 is not set: it must name the x86_64 build folder")
    path = os.path.join(build, *relative)
    if not os.path.exists(path):
        raise AssertionError(f"missing build artefact: {path}")
    return path


# ------------------------------------------------------------------ the builds under test


class Build:
    """One build of the updater: "x86" (PE32, the shipped one) or "x64"."""

    def __init__(self, name):
        self.name = name
        self.bits = 32 if name == "x86" else 64

    @property
    def folder(self):
        return os.environ.get("UPDATER_BUILD_" + self.name.upper()) or os.path.join(
            ROOT, "build", self.name)

    def artefact(self, *relative):
        """Path of a file of this build; fails the calling test when it is missing."""
        _note_used(self.name)
        path = os.path.join(self.folder, *relative)
        if not os.path.exists(path):
            raise AssertionError(f"missing {self.name} build artefact: {path}")
        return path

    def artefact_or_error(self, *relative):
        path = os.path.join(self.folder, *relative)
        if not os.path.exists(path):
            raise WineError(f"missing {self.name} build artefact: {path} (build the {self.name} "
                            f"preset)")
        return path

    def __repr__(self):
        return self.name


BUILDS = {"x86": Build("x86"), "x64": Build("x64")}
_probe = None


def _x86_probe():
    """(exit status, line) of scripts/x86-probe: 0 runs, 1 the kernel refuses, 2 wine32 missing."""
    global _probe
    if _probe is None:
        proc = subprocess.run([X86_PROBE], stdin=subprocess.DEVNULL, capture_output=True,
                              text=True)
        _probe = (proc.returncode, proc.stdout.strip() or proc.stderr.strip())
    return _probe


def x86_refused():
    """The line saying why the x86 build cannot run on this machine, or None when it can."""
    status, line = _x86_probe()
    return line if status == 1 else None


def x86_problem():
    """What stops the x86 build from running although the kernel would run it, or None."""
    status, line = _x86_probe()
    if status == 0:
        return None
    return line or f"scripts/x86-probe failed with {status}"


def builds_under_test():
    """The builds the tests run, the shipped x86 build first: x86 where the kernel runs 32-bit
    programs, x64 always; UPDATER_BUILDS names them instead."""
    named = os.environ.get("UPDATER_BUILDS")
    if named:
        names = [n.strip() for n in named.split(",") if n.strip()]
        unknown = [n for n in names if n not in BUILDS]
        if unknown or not names:
            raise WineError(f"UPDATER_BUILDS must name x86 and/or x64, not {named!r}")
        return [BUILDS[n] for n in ("x86", "x64") if n in names]
    return [BUILDS["x64"]] if x86_refused() else [BUILDS["x86"], BUILDS["x64"]]


def describe_builds():
    """One line for the start of a run: which builds it runs, and why x86 is missing if it is."""
    names = [b.name for b in builds_under_test()]
    line = "builds under test: " + ", ".join(
        f"{b.name} ({b.folder}{', the shipped build' if b.name == 'x86' else ''})"
        for b in builds_under_test())
    if "x86" not in names and x86_refused():
        line += "\n" + x86_refused()
    return line


_current = None
_used = []


def current_build():
    """The build of the running @each_build class, else the first build under test."""
    return _current or builds_under_test()[0]


def updater_artefact(*relative):
    """A file of the current build, e.g. updater_artefact("tests", "drivers", "x.exe")."""
    return current_build().artefact(*relative)


def _note_used(name):
    if name not in _used:
        _used.append(name)


def note_build_used(name):
    """Records that the running test ran (or packaged) something of build `name`."""
    _note_used(name)


def take_builds_used():
    """The builds used since the last call, for the runner's line of each test."""
    used = list(_used)
    _used.clear()
    return used


def ensure_runs(build, env):
    """Fails the calling test unless a program of `build` really runs in env: Wine without its
    32-bit part exits 0 on a PE32 program it could not start."""
    if build.name != "x86" or env.x86_checked:
        return
    problem = x86_problem()
    if problem:
        raise AssertionError(f"the x86 build is under test but cannot run: "
                             f"{problem.split('; running')[0]}")
    probe = build.artefact("tests", "drivers", "load_library.exe")
    result = env.wine([probe, "kernel32.dll"], timeout=60)
    if result.stdout.strip() != "loaded":
        raise AssertionError(f"a 32-bit program of the x86 build did not run under Wine "
                             f"(exit code {result.exit_code}): {result.stderr[-1000:]}")
    env.x86_checked = True


def each_build(cls):
    """Class decorator: runs the test class once per build under test.

    Adds `Name_x86` and `Name_x64` beside the class in its module, each with `build` set; the
    class itself stays as the template they share and is not run by run_all.py. While a copy
    runs (from its setUpClass to its tearDownClass), current_build() is its build.
    """
    module = sys.modules[cls.__module__]
    cls._build_template = True
    for build in builds_under_test():
        setattr(module, f"{cls.__name__}_{build.name}", _variant(cls, build))
    return cls


def _variant(cls, build):
    name = f"{cls.__name__}_{build.name}"

    def set_up_class(variant):
        global _current
        _current = build
        try:
            ensure_runs(build, shared_env())
            super(holder[0], variant).setUpClass()
        except BaseException:
            _current = None
            raise

    def tear_down_class(variant):
        global _current
        try:
            super(holder[0], variant).tearDownClass()
        finally:
            _current = None

    def set_up(self):
        global _current
        _current = build
        _note_used(build.name)
        super(holder[0], self).setUp()

    # Each copy gets its own copy of the template's mutable class attributes (caches of results
    # that several tests of the class share): one build never reads another build's results.
    own = {key: copy.deepcopy(value) for key, value in vars(cls).items()
           if isinstance(value, (dict, list, set))}
    holder = []
    variant = type(cls)(name, (cls,), {
        **own, "__module__": cls.__module__, "__qualname__": name, "build": build,
        "_build_template": False, "setUpClass": classmethod(set_up_class),
        "tearDownClass": classmethod(tear_down_class), "setUp": set_up})
    holder.append(variant)
    return variant


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
