"""One run of the end-to-end tests: its builds (builds.Builds), the Wine environment its tests
share, and what the runner prints of each test. run_all.py makes one and hands it to the harness
(harness.use_session) before it imports the tests; anything else that imports the harness gets
one made on first use.
"""

from builds import Builds
from wine_env import WineEnv


class Session:
    """The builds and the shared WineEnv of a run. Given no env, the first use of env starts
    one (closed when the process exits). It is the hooks of the each_build copies it makes: while
    a copy runs (from its setUpClass to its tearDownClass) current is that copy's build."""

    def __init__(self, builds=None, env=None):
        self.builds = builds or Builds()
        self._env = env
        self.current = None

    @property
    def env(self):
        if self._env is None:
            env = WineEnv(x86_build=self.builds.all["x86"])
            env.start()
            self._env = env
        return self._env

    @env.setter
    def env(self, env):
        self._env = env

    def each_build(self, cls):
        """Class decorator: runs the test class once per build under test (Builds.each_build)."""
        return self.builds.each_build(cls, self)

    def current_build(self):
        """The build of the running each_build copy, else the first build under test. Only for
        calls that are not handed a build (tests written before the build was passed)."""
        return self.current or self.builds.first

    def take_builds_used(self):
        return self.builds.take_used()

    def take_failed_starts(self):
        """The starts made again since the last call; none before the env is started."""
        return self._env.take_failed_starts() if self._env is not None else []

    # ------------------------------------------------------ hooks of the each_build copies

    def class_started(self, build):
        self.current = build
        try:
            self.builds.ensure_runs(build, self.env)
        except BaseException:
            self.current = None
            raise

    def test_started(self, build):
        self.current = build
        build.note_used()

    def class_ended(self, build):
        self.current = None
