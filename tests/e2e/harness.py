"""The end-to-end harness as the tests use it: the names of its modules in one place.

  starting     starting programs: processes, time limits, the loader of a program's bitness, and
               the start that never reached its program, made again and recorded (RunResult,
               RunTimeout, WineError, FailedStart, pe_bits, loader_for)
  wine_prefix  the Xvfb display, the private prefix (created or copied), its wineserver, the
               Unix and Windows paths, TMP/TEMP through the registry
  box_watcher  the message-box watcher beside a run, and the bitness a run hooks (hook_bits)
  builds       the updater's builds (Build, Builds), the x86 probe, the builds under test, the
               copies of a test class per build (each_build), the files of a build
  wine_env     WineEnv: the three above put together (run, wine)
  session      one run of the tests: its builds and its shared WineEnv

run_all.py makes the run's Session and hands it over with use_session() before it imports the
tests; the functions below answer from it (and make one on first use when nothing handed one
over, as for tools/demo.py and tools/bench.py). A test class decorated with `@each_build` runs
once per build under test, as `Name_x86` and `Name_x64`, with `cls.build` naming its build; the
tests pass it on: updates.build_update(..., build=self.build), self.build.artefact(...).
Elsewhere first_build() is the build to use: x86 where it runs. Test tools (the watcher,
make_patch, msiquery) stay 64-bit: artefact() finds them in the x64 build.

current_build() and updater_artefact() without a build, and build_update() without one, give the
build of the running each_build copy: kept for tests written before the build was passed.
"""

from box_watcher import hook_bits
from builds import ROOT, X86_PROBE, Build, Builds, X86Probe, variant
from builds import tool_artefact as artefact
from session import Session
from starting import (START_ATTEMPTS, WINE32, WINE64, WINESERVER, FailedStart, RunResult,
                      RunTimeout, WineError, loader_for, pe_bits)
from wine_env import WineEnv

__all__ = [
    "ROOT", "X86_PROBE", "WINE32", "WINE64", "WINESERVER", "START_ATTEMPTS", "Build", "Builds",
    "X86Probe", "Session", "WineEnv", "FailedStart", "RunResult", "RunTimeout", "WineError",
    "artefact", "hook_bits", "loader_for", "pe_bits", "use_session", "session", "shared_env",
    "set_shared_env", "each_build", "builds_under_test", "first_build", "describe_builds",
    "x86_refused", "x86_problem", "ensure_runs", "current_build", "updater_artefact",
    "note_build_used", "take_builds_used",
]

_START_ATTEMPTS = START_ATTEMPTS

# The session of this process: the one run_all.py handed over, else one made on first use. The
# only state the facade keeps; everything of the run is on the Session.
_session = None


def use_session(session):
    """Makes session the one the functions below answer from (None: a new one on next use)."""
    global _session
    _session = session


def session():
    global _session
    if _session is None:
        _session = Session()
    return _session


def shared_env():
    """The WineEnv of this test run (the session's; started on first use)."""
    return session().env


def set_shared_env(env):
    session().env = env


def each_build(cls):
    """Class decorator: runs the test class once per build under test (builds.Builds)."""
    return session().each_build(cls)


def builds_under_test():
    return session().builds.under_test()


def first_build():
    """The build a test outside an each_build class packages and runs: x86 where it runs."""
    return session().builds.first


def describe_builds():
    return session().builds.describe()


def x86_refused():
    return session().builds.probe.refused()


def x86_problem():
    return session().builds.probe.problem()


def ensure_runs(build, env):
    session().builds.ensure_runs(build, env)


def current_build():
    return session().current_build()


def updater_artefact(*relative, build=None):
    """A file of build (by default current_build()), e.g. ("tests", "drivers", "x.exe")."""
    return (build or current_build()).artefact(*relative)


def note_build_used(name):
    session().builds.note_used(name)


def take_builds_used():
    return session().take_builds_used()


def _variant(cls, build):
    return variant(cls, build, session())


def __getattr__(name):
    if name == "BUILDS":  # every build by name, those of the session
        return session().builds.all
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
