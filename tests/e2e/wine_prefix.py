"""The display and the Windows installation the end-to-end tests run in: an Xvfb server, a private
WINEPREFIX in a temporary folder (created, or copied from a prepared one), one persistent
wineserver for it, the mapping of paths between Unix and Windows, and TMP/TEMP, which Wine takes
from the registry.

Environment variables read here:
  E2E_WINE_PREFIX_CACHE  folder of a prepared prefix to copy instead of creating one; when it does
                         not exist yet, the newly created prefix is stored there for next time
  E2E_KEEP_TEMP          "1" keeps the temporary folder (prefix, box logs) to look at afterwards
"""

import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time

from starting import (WINE32, WINE64, WINESERVER, RunResult, WineError, end_with_parent,
                      kill_group, never_started, read_text, start_until_it_runs)

# Set once in a new prefix. Wine's X11 driver waits for a window manager to acknowledge each
# managed window it hides, and Xvfb has none: unmanaged windows (message boxes among them) close
# without that wait.
_REGISTRY_SETUP = [
    ["reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"],
]

# Wine takes TMP and TEMP from HKCU\Environment and ignores the Unix environment's values, so a
# run that asks for its own TMP gets it through the registry, restored afterwards.
REGISTRY_ENV_VARS = ("TMP", "TEMP")

_ROOT_PREFIX = "e2e-wine-"
_OWNER_FILE = "owner.pid"
_KEPT_FILE = "kept"  # E2E_KEEP_TEMP asked for the folder to stay


def sweep_abandoned_roots():
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
        kill_prefix_processes(os.path.join(root, "prefix"))
        shutil.rmtree(root, ignore_errors=True)


def kill_prefix_processes(prefix):
    """Kills every process whose environment names this WINEPREFIX."""
    entry = f"WINEPREFIX={prefix}".encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                if entry in f.read().split(b"\0"):
                    os.kill(int(pid), signal.SIGKILL)
        except OSError:
            pass


def resolve_case_insensitive(root, parts):
    """Joins parts onto root, matching each existing component the way Windows does."""
    path = root
    for part in parts:
        candidate = os.path.join(path, part)
        if not os.path.exists(candidate) and os.path.isdir(path):
            matches = [n for n in os.listdir(path) if n.lower() == part.lower()]
            if matches:
                candidate = os.path.join(path, matches[0])
        path = candidate
    return path


def failure_text(what, result):
    """A failed command of the harness in one line: Wine's own commands (reg, cmd) say why they
    fail on stdout."""
    said = " ".join((result.stdout[-2000:] + result.stderr[-2000:]).split())
    return f"{what} failed with {result.exit_code}: {said}"


class WinePrefix:
    """A display and a private prefix with its wineserver, in a temporary folder (root) that
    close() removes. Programs are started by the owner through processes (starting.Processes);
    the set-up commands run here go through the same retry and report each failed start to
    record."""

    def __init__(self, processes, record, prefix_cache=None, keep_temp=None):
        self.processes = processes
        self.record = record
        self.prefix_cache = prefix_cache or os.environ.get("E2E_WINE_PREFIX_CACHE") or None
        self.keep_temp = (os.environ.get("E2E_KEEP_TEMP") == "1") if keep_temp is None \
            else keep_temp
        self.root = None
        self.prefix = None
        self.display = None
        self.temp_dir = None
        self.wineserver = None
        self._xvfb = None
        self._original_env_values = {}
        self._run_count = 0

    def start(self):
        """The display, the prefix and the persistent wineserver; the caller closes on failure."""
        sweep_abandoned_roots()
        self.root = tempfile.mkdtemp(prefix=_ROOT_PREFIX)
        with open(os.path.join(self.root, _OWNER_FILE), "w") as f:
            f.write(str(os.getpid()))
        self.prefix = os.path.join(self.root, "prefix")
        self._start_xvfb()
        self._make_prefix()
        self.wineserver = subprocess.Popen(
            [WINESERVER, "-f", "-p"], env=self.base_env(), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True,
            preexec_fn=end_with_parent)

    def close(self):
        """Stops the wineserver, whatever still runs in the prefix and the display, and removes
        the folder unless it is to be kept. The owner has ended its own processes before."""
        if self.prefix and os.path.isdir(self.prefix):
            try:
                subprocess.run([WINESERVER, "-k"], env=self.base_env(),
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=30, check=False)
            except subprocess.TimeoutExpired:
                pass
        if self.wineserver:
            try:
                self.wineserver.wait(timeout=10)
            except subprocess.TimeoutExpired:
                kill_group(self.wineserver)
                self.wineserver.wait()
        if self.prefix:
            kill_prefix_processes(self.prefix)  # whatever outlived its wineserver
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

    def base_env(self):
        """The Unix environment of every program started in the prefix."""
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

    def new_run_dir(self):
        """A fresh folder for one run's output, box log and watcher files."""
        self._run_count += 1
        run_dir = os.path.join(self.root, "runs", f"{self._run_count:04d}")
        os.makedirs(run_dir)
        return run_dir

    def _start_xvfb(self):
        # Xvfb picks a free display itself and reports its number on the pipe once it accepts
        # connections, so there is no race with other servers on this machine.
        read_end, write_end = os.pipe()
        try:
            self._xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                 "-nolisten", "tcp"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, start_new_session=True, preexec_fn=end_with_parent)
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
        self.check([WINE64, "wineboot", "-i"], "wineboot -i", timeout=300)
        for command in _REGISTRY_SETUP:
            self.check([WINE64] + command, " ".join(command[:2]), timeout=60)
        # Let the transient server save the registry and exit, so that the prefix on disk is
        # complete before it is copied or used with the persistent server.
        self.check([WINESERVER, "-w"], "wineserver -w", timeout=60)
        if cache:
            staging = tempfile.mkdtemp(prefix=".staging-", dir=os.path.dirname(
                os.path.abspath(cache)) or ".")
            subprocess.run(["cp", "-a", self.prefix, os.path.join(staging, "prefix")], check=True)
            try:
                os.rename(os.path.join(staging, "prefix"), cache)
            except OSError:
                pass  # another run stored it first
            shutil.rmtree(staging, ignore_errors=True)

    # ------------------------------------------------------------------ set-up commands

    def check(self, command, what, timeout, failed=None, again_before=None):
        """Runs a command of the harness's own to its end (a start that never reached it made
        again, and added to failed when given); its RunResult, or WineError unless it exits 0.
        With again_before (what the command was for), a start that fails is made again too,
        recorded as ending before that, with what the command said."""
        made_again = never_started
        before = lambda result: "it ran"
        if again_before is not None:
            made_again = lambda result: result.exit_code != 0
            before = lambda result: f"{again_before} ({failure_text(what, result)})"
        result = start_until_it_runs(what, lambda: self._check_once(command, what, timeout),
                                     self.record, made_again, before)
        if failed is not None:
            failed += result.failed_starts
        if result.exit_code != 0:
            raise WineError(failure_text(what, result))
        return result

    def _check_once(self, command, what, timeout):
        folder = tempfile.mkdtemp(prefix="cmd-", dir=self.root)
        out_path, err_path = os.path.join(folder, "stdout"), os.path.join(folder, "stderr")
        proc = self.processes.spawn(command, self.base_env(), None, out_path, err_path)
        if self.processes.wait(proc, timeout):
            raise WineError(f"{what} did not finish within {timeout} s")
        stdout, stderr = read_text(out_path), read_text(err_path)
        shutil.rmtree(folder, ignore_errors=True)
        return RunResult(proc.returncode, [], stdout, stderr)

    # -------------------------------------------------------------------------- TMP, TEMP

    def read_temp_settings(self):
        """Notes the prefix's own TMP/TEMP (restored after each run that sets them) and the
        folder Windows programs write temporary files to (temp_dir)."""
        self._original_env_values = {}
        for name in REGISTRY_ENV_VARS:
            result = self.check([WINE64, "reg", "query", r"HKCU\Environment", "/v", name],
                                "reg query", timeout=60)
            match = re.search(rf"^\s*{name}\s+(REG_\w+)\s+(.*?)\s*$", result.stdout,
                              re.MULTILINE)
            if match:
                self._original_env_values[name] = (match.group(1), match.group(2))
        result = self.check([WINE64, "cmd", "/c", "echo %TMP%"], "cmd", timeout=60)
        self.temp_dir = self.from_windows_path(result.stdout.strip())
        os.makedirs(self.temp_dir, exist_ok=True)

    @staticmethod
    def split_env(extra_env):
        """(Unix variables, registry variables) of a run's extra environment: TMP and TEMP go
        through the registry, by their upper-case names."""
        unix, registry = {}, {}
        for key, value in (extra_env or {}).items():
            if key.upper() in REGISTRY_ENV_VARS:
                registry[key.upper()] = value
            else:
                unix[key] = value
        return unix, registry

    def set_registry_env(self, values, failed=None):
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
            # Wine's reg fails now and then (exit 1, with the updater not running).
            self.check([WINE64] + command, "reg", timeout=60, failed=failed,
                       again_before=f"it set {name}")

    # ------------------------------------------------------------------------------ paths

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
        return resolve_case_insensitive(root, parts)
