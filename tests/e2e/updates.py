"""Update executables packaged by scripts/build-update for the end-to-end tests."""

import os
import re
import subprocess
import tempfile

import harness

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD_UPDATE = os.path.join(ROOT, "scripts", "build-update")

# The log every run writes into the temporary folder: <update name>_<yyyyMMddHHmmss>[_<n>].log.
RUN_LOG = re.compile(r"_\d{14}(_\d+)?\.log$")


def run_logs(names):
    """The updater's run logs among names (file names or paths)."""
    return [n for n in names if RUN_LOG.search(os.path.basename(n))]


def without_run_logs(names):
    """names less the updater's run logs."""
    return [n for n in names if not RUN_LOG.search(os.path.basename(n))]


def build_update(output, global_payload=None, language_pack=None, product_specific=None,
                 arch=None, extra=(), validate=True):
    """Packages the given payload files (paths or None) into the executable at output, around
    the updater of `arch` ("x86" or "x64"; by default harness.current_build()); extra holds
    further options of scripts/build-update. Without validate the files are carried unchecked
    (--no-validate), as payloads that are no patch or a deliberately broken one need."""
    arch = arch or harness.current_build().name
    harness.note_build_used(arch)
    args = [BUILD_UPDATE, "--arch", arch, "--output", output, *extra]
    if not validate:
        args.append("--no-validate")
    for option, path in (("--global", global_payload), ("--language-pack", language_pack),
                         ("--product-specific", product_specific)):
        if path:
            args += [option, path]
    result = subprocess.run(args, capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError(f"build-update failed: {result.stderr}")
    return output


def random_file(folder, name, size):
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(os.urandom(size))
    return path


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def work_folder(env, name):
    """A fresh folder for one test inside the Wine environment's root."""
    return tempfile.mkdtemp(prefix=name + "-", dir=env.root)


def windows_runner(env):
    """The callable the fixtures use to run Windows programs in the environment's prefix."""

    def run(argv):
        result = env.wine(argv, timeout=120)
        return result.exit_code, result.stdout, result.stderr

    return run
