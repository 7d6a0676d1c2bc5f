"""The builds of the updater the end-to-end tests run, and where their files are.

The updater comes in two builds: x86 (the shipped PE32 executable) and x64. A run's Builds names
those under test: x86 wherever the kernel runs 32-bit programs (scripts/x86-probe), and x64
always. Builds.each_build() makes one copy of a test class per build under test, as `Name_x86` and
`Name_x64`, with `build` naming its build: the tests pass that build on to what they package and
run. Test tools (the watcher, make_patch, msiquery) stay 64-bit: tool_artefact() finds them in the
x64 build.

Environment variables read here:
  UPDATER_BUILD_X64  build folder of the x86_64 mingw build (default build/x64)
  UPDATER_BUILD_X86  build folder of the i686 mingw build (default build/x86)
  UPDATER_BUILDS     "x86", "x64" or "x86,x64": the builds under test, instead of what the probe
                     finds (x86 named on a kernel that refuses it fails, never skips)
"""

import copy
import os
import subprocess
import sys

from starting import WineError

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
X86_PROBE = os.path.join(ROOT, "scripts", "x86-probe")
NAMES = ("x86", "x64")  # the shipped build first


def tool_artefact(*relative):
    """Path of a built file under UPDATER_BUILD_X64 (the test tools: watcher, showboxes);
    fails the calling test when it is missing."""
    build = os.environ.get("UPDATER_BUILD_X64")
    if not build:
        raise AssertionError("UPDATER_BUILD_X64 is not set: it must name the x86_64 build folder")
    path = os.path.join(build, *relative)
    if not os.path.exists(path):
        raise AssertionError(f"missing build artefact: {path}")
    return path


class Build:
    """One build of the updater: "x86" (PE32, the shipped one) or "x64". on_use(name), when
    given, hears of every file looked up through artefact(): the run's record of which builds
    each test used."""

    def __init__(self, name, on_use=None):
        self.name = name
        self.bits = 32 if name == "x86" else 64
        self._on_use = on_use

    @property
    def folder(self):
        return os.environ.get("UPDATER_BUILD_" + self.name.upper()) or os.path.join(
            ROOT, "build", self.name)

    def note_used(self):
        """Tells on_use that the running test ran (or packaged) something of this build."""
        if self._on_use:
            self._on_use(self.name)

    def artefact(self, *relative):
        """Path of a file of this build; fails the calling test when it is missing."""
        self.note_used()
        path = os.path.join(self.folder, *relative)
        if not os.path.exists(path):
            raise AssertionError(f"missing {self.name} build artefact: {path}")
        return path

    def artefact_or_error(self, *relative):
        """Path of a file of this build the harness itself needs; WineError when missing."""
        path = os.path.join(self.folder, *relative)
        if not os.path.exists(path):
            raise WineError(f"missing {self.name} build artefact: {path} (build the {self.name} "
                            f"preset)")
        return path

    def __repr__(self):
        return self.name


class X86Probe:
    """scripts/x86-probe, run once on first use: 0 runs, 1 the kernel refuses, 2 wine32 missing."""

    def __init__(self, script=X86_PROBE):
        self.script = script
        self._outcome = None

    def outcome(self):
        """(exit status, line) of the probe."""
        if self._outcome is None:
            proc = subprocess.run([self.script], stdin=subprocess.DEVNULL, capture_output=True,
                                  text=True)
            self._outcome = (proc.returncode, proc.stdout.strip() or proc.stderr.strip())
        return self._outcome

    def refused(self):
        """The line saying why the x86 build cannot run on this machine, or None when it can."""
        status, line = self.outcome()
        return line if status == 1 else None

    def problem(self):
        """What stops the x86 build from running although the kernel would run it, or None."""
        status, line = self.outcome()
        if status == 0:
            return None
        return line or f"scripts/x86-probe failed with {status}"


class Builds:
    """The builds of one test run: all (by name), those under test, and the record of which
    builds each test used (note_used, take_used). named overrides the probe's choice, as
    UPDATER_BUILDS does (the default)."""

    def __init__(self, named=None, probe=None):
        self.named = os.environ.get("UPDATER_BUILDS") if named is None else named
        self.probe = probe or X86Probe()
        self.all = {name: Build(name, self.note_used) for name in NAMES}
        self._used = []

    def under_test(self):
        """The builds the tests run, the shipped x86 build first."""
        if self.named:
            names = [n.strip() for n in self.named.split(",") if n.strip()]
            unknown = [n for n in names if n not in self.all]
            if unknown or not names:
                raise WineError(f"UPDATER_BUILDS must name x86 and/or x64, not {self.named!r}")
            return [self.all[n] for n in NAMES if n in names]
        return [self.all["x64"]] if self.probe.refused() else [self.all[n] for n in NAMES]

    @property
    def first(self):
        """The first build under test: x86 where it runs. A test that packages or runs the
        updater outside an each_build class uses this one."""
        return self.under_test()[0]

    def x86_refused(self):
        return self.probe.refused()

    def describe(self):
        """One line for the start of a run: which builds it runs, and why x86 is missing if it
        is."""
        under_test = self.under_test()
        line = "builds under test: " + ", ".join(
            f"{b.name} ({b.folder}{', the shipped build' if b.name == 'x86' else ''})"
            for b in under_test)
        if "x86" not in [b.name for b in under_test] and self.probe.refused():
            line += "\n" + self.probe.refused()
        return line

    def note_used(self, name):
        """Records that the running test ran (or packaged) something of build `name`."""
        if name not in self._used:
            self._used.append(name)

    def take_used(self):
        """The builds used since the last call, for the runner's line of each test."""
        used = list(self._used)
        self._used.clear()
        return used

    def ensure_runs(self, build, env):
        """Fails the calling test unless a program of `build` really runs in env: Wine without
        its 32-bit part exits 0 on a PE32 program it could not start. Checked once per env."""
        if build.name != "x86" or env.x86_checked:
            return
        problem = self.probe.problem()
        if problem:
            raise AssertionError(f"the x86 build is under test but cannot run: "
                                 f"{problem.split('; running')[0]}")
        probe = build.artefact("tests", "drivers", "load_library.exe")
        result = env.wine([probe, "kernel32.dll"], timeout=60)
        if result.stdout.strip() != "loaded":
            raise AssertionError(f"a 32-bit program of the x86 build did not run under Wine "
                                 f"(exit code {result.exit_code}): {result.stderr[-1000:]}")
        env.x86_checked = True

    def each_build(self, cls, hooks):
        """Adds `Name_x86` and `Name_x64` (those under test) beside cls in its module, each with
        `build` set; cls stays as the template they share and is not run by run_all.py. hooks
        hears when a copy's class and each of its tests start and end (see variant())."""
        module = sys.modules[cls.__module__]
        cls._build_template = True
        for build in self.under_test():
            setattr(module, f"{cls.__name__}_{build.name}", variant(cls, build, hooks))
        return cls


def variant(cls, build, hooks):
    """The copy of test class cls for build. hooks.class_started(build) comes before the class's
    own setUpClass (and may fail it), hooks.test_started(build) before each setUp,
    hooks.class_ended(build) after tearDownClass or a failed set-up."""
    name = f"{cls.__name__}_{build.name}"

    def set_up_class(variant):
        hooks.class_started(build)
        try:
            super(holder[0], variant).setUpClass()
        except BaseException:
            hooks.class_ended(build)
            raise

    def tear_down_class(variant):
        try:
            super(holder[0], variant).tearDownClass()
        finally:
            hooks.class_ended(build)

    def set_up(self):
        hooks.test_started(build)
        super(holder[0], self).setUp()

    # Each copy gets its own copy of the template's mutable class attributes (caches of results
    # that several tests of the class share): one build never reads another build's results.
    own = {key: copy.deepcopy(value) for key, value in vars(cls).items()
           if isinstance(value, (dict, list, set))}
    holder = []
    made = type(cls)(name, (cls,), {
        **own, "__module__": cls.__module__, "__qualname__": name, "build": build,
        "_build_template": False, "setUpClass": classmethod(set_up_class),
        "tearDownClass": classmethod(tear_down_class), "setUp": set_up})
    holder.append(made)
    return made
