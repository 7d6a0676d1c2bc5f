"""The message-box watcher (tools/boxwatch) beside a run: started before the program, ready before
the program starts, stopped after it ends, and its record of every box the program showed.

A run hooks the programs of one bitness (hook_bits): a global hook of the other bitness in the
same chain makes Wine hand the hooks after it no message parameter, and boxes lose their exact
flags. A 32-bit run gets the watcher's 32-bit hook holder (boxhook32.exe of the x86 build).

Environment variables read here:
  UPDATER_BUILD_X64  build folder of the x86_64 mingw build; the watcher is looked for in its
                     tools/boxwatch sub-folder
  BOXWATCH_DIR       folder holding boxwatch.exe and boxhook.dll, when not under the above
"""

import json
import os
import subprocess
import time

from builds import Build
from starting import (START_ATTEMPTS, WINE64, FailedStart, WineError, kill_group, pe_bits,
                      read_text)

READY_SECONDS = 30
STOP_SECONDS = 15


def find_boxwatch_dir():
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


def hook_bits(exe, named=None):
    """The bitness a run of exe hooks: the one named, else exe's own as its PE header gives it,
    else 64 (Wine's own programs, such as "msiexec")."""
    return named or pe_bits(exe) or 64


class Watch:
    """One started watcher: its process and the run folder it writes to."""

    def __init__(self, proc, run_dir):
        self.proc = proc
        self.run_dir = run_dir


class BoxWatcher:
    """Starts and stops boxwatch.exe in a prefix (wine_prefix.WinePrefix). Its processes go
    through processes (starting.Processes); a start that ends before the watcher is ready is made
    again, up to START_ATTEMPTS in all, each reported to record and added to the caller's list."""

    def __init__(self, prefix, processes, record, folder=None, x86_build=None):
        self.prefix = prefix
        self.processes = processes
        self.record = record
        self._folder = folder
        self.x86_build = x86_build or Build("x86")

    def locate(self):
        """The folder of boxwatch.exe; WineError when it cannot be found."""
        if not self._folder:
            self._folder = find_boxwatch_dir()
        return self._folder

    folder = property(locate)

    @property
    def exe(self):
        return os.path.join(self.folder, "boxwatch.exe")

    def hook32_helper(self):
        """The watcher's 32-bit hook holder (x86 build), which gives boxes of 32-bit programs
        their exact flags."""
        return self.x86_build.artefact_or_error("tools", "boxwatch", "boxhook32.exe")

    def warm_up(self):
        """The first Wine process of a server starts the system processes (services, devices,
        the desktop's explorer), which inherit its standard handles and outlive it. Starting
        them here with nothing attached keeps them off the output files of later runs. The
        watcher creates the desktop; its stop file exists already, so it leaves at once."""
        root = self.prefix.root
        stop = os.path.join(root, "warm-up.stop")
        open(stop, "wb").close()
        command = [WINE64, self.exe,
                   "--out", self.prefix.to_windows_path(os.path.join(root, "warm-up.jsonl")),
                   "--stop-file", self.prefix.to_windows_path(stop)]
        proc = subprocess.run(command, env=self.prefix.base_env(), stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120,
                              check=False)
        if proc.returncode != 0:
            raise WineError(f"boxwatch.exe failed with {proc.returncode} on its first start")

    def start(self, run_dir, watcher_args=(), bits=64, failed=None):
        """Starts the watcher for one run in run_dir, hooking programs of bitness bits, and
        waits until it is ready; its Watch. WineError when it does not get ready."""
        failed = [] if failed is None else failed
        for attempt in range(1, START_ATTEMPTS + 1):
            watcher, exit_code, log = self._try_start(run_dir, watcher_args, bits)
            if watcher:
                return Watch(watcher, run_dir)
            failure = FailedStart("boxwatch.exe", exit_code, attempt, detail=log[-2000:],
                                  before="it was ready")
            if attempt == START_ATTEMPTS:
                raise WineError(f"{failure}: {failure.detail}")
            failed.append(failure)
            self.record(failure)
        raise AssertionError("unreachable")

    def _try_start(self, run_dir, watcher_args, bits):
        to_windows = self.prefix.to_windows_path
        ready = os.path.join(run_dir, "watcher.ready")
        log = os.path.join(run_dir, "watcher.log")
        command = [WINE64, self.exe,
                   "--out", to_windows(os.path.join(run_dir, "boxes.jsonl")),
                   "--stop-file", to_windows(os.path.join(run_dir, "watcher.stop")),
                   "--ready-file", to_windows(ready), *watcher_args]
        if bits == 32 and "--no-hook" not in watcher_args:
            command += ["--hook32", to_windows(self.hook32_helper())]
        watcher = self.processes.spawn(command, self.prefix.base_env(), None, os.devnull, log)
        deadline = time.monotonic() + READY_SECONDS
        while not os.path.exists(ready):
            if watcher.poll() is not None:
                self.processes.forget(watcher)
                return None, watcher.returncode, read_text(log)
            if time.monotonic() > deadline:
                kill_group(watcher)
                watcher.wait()
                self.processes.forget(watcher)
                raise WineError(f"boxwatch was not ready within {READY_SECONDS} s")
            time.sleep(0.005)
        return watcher, None, ""

    def stop(self, watch):
        """Stops the watcher and gives the boxes it recorded, in the order they were shown."""
        watcher, run_dir = watch.proc, watch.run_dir
        with open(os.path.join(run_dir, "watcher.stop"), "wb"):
            pass
        try:
            watcher.wait(timeout=STOP_SECONDS)
        except subprocess.TimeoutExpired:
            kill_group(watcher)
            watcher.wait()
            raise WineError(f"boxwatch did not stop within {STOP_SECONDS} s of its stop file "
                            f"appearing")
        finally:
            self.processes.forget(watcher)
        if watcher.returncode != 0:
            raise WineError(f"boxwatch failed with {watcher.returncode}: "
                            f"{read_text(os.path.join(run_dir, 'watcher.log'))[-2000:]}")
        boxes = []
        path = os.path.join(run_dir, "boxes.jsonl")
        if os.path.exists(path):
            with open(path, encoding="utf-8") as f:
                boxes = [json.loads(line) for line in f if line.strip()]
        return boxes
