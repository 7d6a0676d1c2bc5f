"""WineEnv: runs Windows programs for the end-to-end tests and records their message boxes.

It puts together the display and prefix (wine_prefix), the starting of programs (starting) and
the message-box watcher (box_watcher). Each watched run starts the watcher beside the program, so
a program that reports through message boxes runs to its end without a person, and the test gets
every box it showed. Each program runs under the Wine loader of its own bitness.

Every start that is made again because it never reached its program is in the RunResult of the
run it belongs to (failed_starts), said on stderr, and kept in failed_starts until the runner
takes it for the line of the test that made it (take_failed_starts).
"""

import atexit
import os
import time

import box_watcher
from box_watcher import BoxWatcher
from starting import (Processes, RunResult, RunTimeout, WineError, loader_for, read_text,
                      say_on_stderr, start_until_it_runs)
from wine_prefix import WinePrefix


class WineEnv:
    """A private Wine installation with a display. Use as a context manager or call close().
    x86_build is the build whose 32-bit hook holder the watcher uses (by default
    builds.Build("x86"), in the folder UPDATER_BUILD_X86 names)."""

    def __init__(self, prefix_cache=None, boxwatch_dir=None, keep_temp=None, x86_build=None):
        self.processes = Processes()
        self.failed_starts = []
        self._prefix = WinePrefix(self.processes, self._record_failed_start,
                                  prefix_cache=prefix_cache, keep_temp=keep_temp)
        self.watcher = BoxWatcher(self._prefix, self.processes, self._record_failed_start,
                                  folder=boxwatch_dir, x86_build=x86_build)
        self.startup_seconds = None
        self.x86_checked = False  # Builds.ensure_runs() saw a 32-bit program run here
        self._closed = False

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
            self.watcher.locate()  # before anything is started: WineError when missing
            self._prefix.start()
            self.watcher.warm_up()
            self._prefix.read_temp_settings()
        except BaseException:
            self.close()
            raise
        self.startup_seconds = time.monotonic() - started

    def close(self):
        if self._closed:
            return
        self._closed = True
        self.processes.kill_all()
        self._prefix.close()
        atexit.unregister(self.close)

    # ------------------------------------------------------ the prefix's places and paths

    prefix_cache = property(lambda self: self._prefix.prefix_cache)
    keep_temp = property(lambda self: self._prefix.keep_temp)
    root = property(lambda self: self._prefix.root)
    prefix = property(lambda self: self._prefix.prefix)
    display = property(lambda self: self._prefix.display)
    temp_dir = property(lambda self: self._prefix.temp_dir)
    drive_c = property(lambda self: self._prefix.drive_c)
    boxwatch_dir = property(lambda self: self.watcher.folder)

    def to_windows_path(self, unix_path):
        return self._prefix.to_windows_path(unix_path)

    def from_windows_path(self, windows_path):
        return self._prefix.from_windows_path(windows_path)

    def base_env(self):
        """The Unix environment of a program started in the prefix."""
        return self._prefix.base_env()

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
        bits = box_watcher.hook_bits(exe, hook_bits)
        return start_until_it_runs(exe, lambda: self._execute(
            [exe, *args], timeout, extra_env, cwd, watch=True, watcher_args=watcher_args,
            bits=bits), self._record_failed_start)

    def wine(self, args, timeout=120, extra_env=None, cwd=None, watch=False):
        """Runs any Windows command line in the prefix, e.g. ["msiexec", "/i", path, "/qn"]."""
        bits = box_watcher.hook_bits(args[0])
        return start_until_it_runs(args[0], lambda: self._execute(
            list(args), timeout, extra_env, cwd, watch=watch, watcher_args=(), bits=bits),
            self._record_failed_start)

    def take_failed_starts(self):
        """The starts made again since the last call (starting.FailedStart), oldest first."""
        taken = list(self.failed_starts)
        self.failed_starts.clear()
        return taken

    def _record_failed_start(self, failure):
        self.failed_starts.append(failure)
        say_on_stderr(failure)

    def _execute(self, command, timeout, extra_env, cwd, watch, watcher_args, bits):
        """One start of command, watched or not, with TMP/TEMP set around it; a RunResult whose
        failed_starts are those of the watcher and the registry commands of this start."""
        if self._closed or not self._prefix.wineserver:
            raise WineError("WineEnv is not running")
        run_dir = self._prefix.new_run_dir()
        env = self._prefix.base_env()
        unix_values, registry_values = self._prefix.split_env(extra_env)
        env.update(unix_values)
        failed = []
        watch_handle = None
        started = time.monotonic()
        try:
            self._prefix.set_registry_env(registry_values, failed)
            if watch:
                watch_handle = self.watcher.start(run_dir, watcher_args, bits, failed)
            out_path = os.path.join(run_dir, "stdout")
            err_path = os.path.join(run_dir, "stderr")
            proc = self.processes.spawn([loader_for(command[0]), *command], env, cwd, out_path,
                                        err_path)
            timed_out = self.processes.wait(proc, timeout)
            stdout, stderr = read_text(out_path), read_text(err_path)
            seconds = time.monotonic() - started
            boxes = self.watcher.stop(watch_handle) if watch_handle else []
            watch_handle = None
        finally:
            if watch_handle:  # the run failed; its own error is the one to report
                try:
                    self.watcher.stop(watch_handle)
                except WineError:
                    pass
            self._prefix.set_registry_env({k: None for k in registry_values}, failed)
        result = RunResult(proc.returncode, boxes, stdout, stderr, timed_out, seconds,
                           failed_starts=failed)
        if timed_out:
            raise RunTimeout(f"{command[0]} did not finish within {timeout} s and was killed; "
                             f"boxes seen: {boxes!r}", result)
        return result

