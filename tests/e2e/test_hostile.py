"""Hostile inputs end to end: damaged and odd payloads, temporary folders that are missing,
unwritable or booby-trapped, a full disk, and strange products. Every case runs the real update
under Wine with a temporary folder of its own (TMP) and checks the whole outcome: exit code 0,
the exact boxes, no payload copy left, nothing written outside the places the run may write, and
the product's version and registered patches.

Wine's msi.dll decides several outcomes; what it was measured to do:
- MsiGetSummaryInformationW fails with 1627 on random bytes, but opens a compound file without
  summary information, or one cut short, and reports every property absent. A property of
  another type than expected (VT_I4 where text belongs) reads as absent too.
- MsiConfigureProductExW returns 0 whatever becomes of the patch, so a patched product is told
  by its version and its registered patch, never by the box alone.
- Two hostile fixtures crash msi.dll inside the calling process. A patch without the
  string-pool streams (make_patch's no_string_pool) does so even on the summary read, which then
  never comes back (msiquery was killed after 30 s): it is never given to the updater. A patch
  without property 7, or with property 7 not a text, crashes the installer call; it is used
  here only where no target is found, so that the updater makes no installer call.
- Some cuts of a small patch make MsiGetSummaryInformationW never return (a 4 KiB patch cut
  anywhere from 1.5 to 3.5 KiB; msiquery's summary read hangs the same way); the truncated case
  uses a larger patch whose first half Wine opens.
"""

import ctypes
import os
import re
import struct
import subprocess
import tempfile
import unittest

import fixtures
import harness
from catalogue import expected_box, shown, texts
from updates import ProductCase, build_update, profile_folder, without_run_logs

UPGRADE, INSTALLED = "2.0.0.0", "1.0.0.0"
VERSIONS = f"{UPGRADE};{INSTALLED}"
LOG_SUFFIX = " SP1.log"
PRIVATE_PREFIX = "QuorvexUpdate-"
# The protected folder of the logs of elevated runs whose TMP lies outside the profile.
LOG_FOLDER = "QuorvexUpdate-Logs"
MAX_PATH_CHARACTERS = 259  # MAX_PATH without the terminator

# ------------------------------------------------------------------------ watching for writes

_IN_MODIFY, _IN_ATTRIB, _IN_CLOSE_WRITE = 0x002, 0x004, 0x008
_IN_MOVED_FROM, _IN_MOVED_TO, _IN_CREATE, _IN_DELETE = 0x040, 0x080, 0x100, 0x200
_IN_Q_OVERFLOW = 0x4000
_WRITES = (_IN_MODIFY | _IN_ATTRIB | _IN_CLOSE_WRITE | _IN_MOVED_FROM | _IN_MOVED_TO |
           _IN_CREATE | _IN_DELETE)
_EVENT = struct.Struct("iIII")
_libc = ctypes.CDLL(None, use_errno=True)


class WriteWatch:
    """Records the names of entries created, written, changed or removed directly in each folder
    while it is open (inotify, not recursive), so that a file made and deleted again within the
    run counts too."""

    def __init__(self, folders):
        self._fd = _libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self._fd < 0:
            raise OSError(ctypes.get_errno(), "inotify_init1 failed")
        self._folders = {}
        self.names = {}
        for folder in dict.fromkeys(os.path.realpath(f) for f in folders):
            wd = _libc.inotify_add_watch(self._fd, folder.encode(), _WRITES)
            if wd < 0:
                os.close(self._fd)
                raise OSError(ctypes.get_errno(), f"cannot watch {folder}")
            self._folders[wd] = folder
            self.names[folder] = []

    def close(self):
        try:
            while True:
                try:
                    data = os.read(self._fd, 65536)
                except BlockingIOError:
                    break
                offset = 0
                while offset < len(data):
                    wd, mask, _, length = _EVENT.unpack_from(data, offset)
                    start = offset + _EVENT.size
                    name = data[start:start + length].rstrip(b"\0").decode(errors="replace")
                    offset = start + length
                    if mask & _IN_Q_OVERFLOW:
                        raise AssertionError("inotify lost events: its queue overflowed")
                    if wd in self._folders and mask & _WRITES:
                        self.names[self._folders[wd]].append(name or ".")
        finally:
            os.close(self._fd)

    def touched(self, folder):
        """The distinct names touched in folder, in the order first seen."""
        return list(dict.fromkeys(self.names[os.path.realpath(folder)]))


# ---------------------------------------------------------------------------------- fixtures


class Outcome:
    def __init__(self, result, watch, tmp, windows_temp):
        self.result, self.watch, self.tmp = result, watch, tmp
        self.windows_temp = windows_temp

    @property
    def boxes(self):
        return shown(self.result.boxes)

    def touched_in_tmp(self):
        """The entries the run created or changed there, less its run log."""
        return without_run_logs(self.watch.touched(self.tmp))

    def payload_copies(self):
        """The payload copies made in the temporary folder, in order; the installer makes
        temporary files of its own there too (STO*.tmp)."""
        return [name for name in self.touched_in_tmp() if name.startswith("MSP")]

    def private_folders(self):
        """The private folders the run made in the Windows folder's Temp for its copies."""
        return [n for n in self.watch.touched(self.windows_temp)
                if n.startswith(PRIVATE_PREFIX) and n != LOG_FOLDER]


def mounted_tmpfs(folder, options):
    subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", folder], check=True)


def unmount(folder):
    subprocess.run(["umount", folder], check=True)


class HostileCase(ProductCase):
    """Shared set-up: products, patches and updates in the class's folder, runs from a current
    folder on drive C: (so that the root of the current drive is the prefix's C:, never the
    Linux root)."""

    FOLDER = "hostile"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.cwd = tempfile.mkdtemp(prefix="hostile-cwd-", dir=cls.env.drive_c)

    def product(self, name, version=INSTALLED, language=1033):
        return self.install(name, version, language)

    def patch(self, targets=None, versions=VERSIONS, patched=(), **hostile):
        """A patch naming targets, whose transforms take each product of patched to the upgrade
        version."""
        return self.make_patch(targets, versions, patched, upgrade=UPGRADE, **hostile)

    def update(self, payload):
        return build_update(os.path.join(self.folder, fixtures.new_guid() + ".exe"), payload,
                            validate=False, build=self.build)

    def case_folder(self):
        """A fresh folder for one run, in the user's profile (where an elevated run keeps its logs
        in TMP); its TMP folder goes inside, so that the folder around the temporary folder can
        be watched too."""
        return profile_folder(self.env, "case")

    def fresh_tmp(self):
        tmp = os.path.join(self.case_folder(), "tmp")
        os.mkdir(tmp)
        return tmp

    def windows_temp(self):
        """The Windows folder's Temp, where an elevated run (every run under Wine) keeps the
        private folder of its payload copies."""
        return self.env.from_windows_path("C:\\windows\\temp")

    def execute(self, exe, tmp, watched=(), args=()):
        """Runs the update with TMP naming tmp while watching tmp, the folder around it, the
        current folder, the roots of Z: and C:, Wine's own temporary folder, the Windows folder's
        Temp, the folder holding the updates and patches, and watched."""
        folders = ["/", self.env.drive_c, self.env.temp_dir, self.cwd, self.folder,
                   self.windows_temp(), os.path.dirname(tmp), *watched]
        if os.path.isdir(tmp):
            folders.append(tmp)
        watch = WriteWatch(folders)
        try:
            result = self.env.run(exe, list(args),
                                  extra_env={"TMP": self.env.to_windows_path(tmp)}, cwd=self.cwd)
        finally:
            watch.close()
        return Outcome(result, watch, tmp, self.windows_temp())

    def assert_contained(self, outcome, allowed=None):
        """Exit code 0, no payload copy or private folder left, and nothing touched in any
        watched folder but allowed (default: the temporary folder and the Windows folder's Temp,
        which holds the run's private folder)."""
        allowed = [outcome.tmp, outcome.windows_temp] if allowed is None else allowed
        allowed = {os.path.realpath(f) for f in allowed}
        self.assertEqual([n for n in os.listdir(outcome.windows_temp)
                          if n.startswith(PRIVATE_PREFIX) and n != LOG_FOLDER], [],
                         "a private folder was left")
        self.assertEqual(outcome.result.exit_code, 0, outcome.result)
        outside = {folder: names for folder, names in outcome.watch.names.items()
                   if names and folder not in allowed}
        self.assertEqual(outside, {}, "the run wrote outside its temporary folder")
        for folder in outcome.watch.names:
            if os.path.isdir(folder):
                left = [n for n in os.listdir(folder) if n.startswith("MSP")]
                if folder == os.path.realpath(outcome.tmp):
                    left = [n for n in left if n in outcome.touched_in_tmp()]  # planted ones stay
                self.assertEqual(left, [], f"a payload copy was left in {folder}")

    def assert_product(self, product, version, patched):
        state = fixtures.query_product(self.run_windows, product.code)
        self.assertEqual(state["version"], version)
        self.assertEqual(len(state["patches"]), 1 if patched else 0, state["patches"])

    @staticmethod
    def log_name(product):
        return product.name + LOG_SUFFIX


def stored_summary(path):
    """The summary properties as the file holds them: {id: (type, value)}, text as bytes."""
    streams = fixtures.read_compound_file(path)
    return fixtures.read_summary_stream(streams[(fixtures.SUMMARY_STREAM,)])


def failure(code):
    return [expected_box(1033, 300, code)]


NO_PRODUCT = [expected_box(1033, 307)]
NO_STREAM = "no summary stream"


# --------------------------------------------------------------------------------- payloads


@harness.each_build
class HostilePayloads(HostileCase):
    def test_unreadable_or_unusable_payloads_change_nothing(self):
        # Every patch that has a target list names the installed product and carries a working
        # transform for it, so any installer call would show in its version.
        product = self.product("Hostile Bystander")
        working = dict(targets=[product], patched=[product])
        foreign = [fixtures.new_guid() for _ in range(2565)]  # 2,565 * 39 - 1 = 100,034

        def random_bytes():
            path = os.path.join(self.folder, fixtures.new_guid() + ".msp")
            with open(path, "wb") as f:
                f.write(os.urandom(20000))
            return path

        def cut_in_half():
            # 200 target codes make a 12 KiB patch; its first half holds the header and the
            # directory, and Wine opens it with every property absent.
            path = self.patch(targets=[product] + [fixtures.new_guid() for _ in range(199)],
                              patched=[product])
            with open(path, "rb") as f:
                whole = f.read()
            self.assertEqual(len(whole), 12288)
            cut = path + ".half.msp"
            with open(cut, "wb") as f:
                f.write(whole[:len(whole) // 2])
            return cut

        # (make the payload, the boxes, what its summary stream holds as read from the file
        # itself, independent of msi.dll: {property: (type, value)}, None for absent; None: not
        # a compound file to look into)
        cases = {
            "random bytes": (random_bytes, failure(1627), None),
            "compound file cut in half": (cut_in_half, failure(4316), None),
            "no summary information":
                (lambda: self.patch(**working, no_summary=True), failure(4316), NO_STREAM),
            "property 7 absent":
                (lambda: self.patch(no_prop7=True, patched=[product]), NO_PRODUCT, {7: None}),
            "property 7 a VT_I4":
                (lambda: self.patch(prop7_int=1033, patched=[product]), NO_PRODUCT,
                 {7: (fixtures.VT_I4, 1033)}),
            "property 7 of 100,000 characters, none installed":
                (lambda: self.patch(targets=foreign, patched=[product]), NO_PRODUCT,
                 {7: (fixtures.VT_LPSTR, ";".join(foreign).encode())}),
            "property 5 absent":
                (lambda: self.patch(**working, versions=None, no_prop5=True), failure(4316),
                 {5: None}),
            "property 5 a VT_I4":
                (lambda: self.patch(**working, versions=None, prop5_int=2), failure(4316),
                 {5: (fixtures.VT_I4, 2)}),
            "property 5 of 100,000 characters without a ';'":
                (lambda: self.patch(**working, versions=",".join([INSTALLED] * 12500)),
                 failure(4316), {5: (fixtures.VT_LPSTR, ",".join([INSTALLED] * 12500).encode())}),
            "a hundred codes, none installed":
                (lambda: self.patch(targets=foreign[:100], patched=[product]), NO_PRODUCT,
                 {7: (fixtures.VT_LPSTR, ";".join(foreign[:100]).encode())}),
        }
        for what, (make, boxes, summary) in cases.items():
            with self.subTest(what):
                payload = make()
                if summary is NO_STREAM:
                    self.assertNotIn((fixtures.SUMMARY_STREAM,),
                                     fixtures.read_compound_file(payload))
                elif summary is not None:
                    stored = stored_summary(payload)
                    self.assertEqual({k: stored.get(k) for k in summary}, summary)
                outcome = self.execute(self.update(payload), self.fresh_tmp())
                self.assertEqual(outcome.boxes, boxes)
                self.assert_contained(outcome)
                # The payload copy went into a private folder of the run, and nothing into TMP:
                # no installer call, so no log.
                self.assertEqual(outcome.touched_in_tmp(), [])
                self.assertEqual(len(outcome.private_folders()), 1)
                self.assert_product(product, INSTALLED, patched=False)

    def test_long_and_odd_target_lists_reach_the_installed_product(self):
        def long_codes(product):
            codes = [fixtures.new_guid() for _ in range(2564)] + [product.code]
            self.assertGreaterEqual(len(";".join(codes)), 100000)
            return codes

        def long_versions():
            targets = [f"0.{i // 100}.{i % 100}.7" for i in range(10500)] + [INSTALLED]
            text = f"{UPGRADE};" + ",".join(targets)
            self.assertGreaterEqual(len(text), 100000)
            return text

        def among_a_hundred(product):
            codes = [fixtures.new_guid() for _ in range(99)]
            return codes[:57] + [product.code] + codes[57:]

        cases = [
            # (what, patch of the product, patched by the installer)
            ("property 7 of 100,000 characters, the product last",
             lambda p: self.patch(targets=long_codes(p), patched=[p]), True),
            ("property 5 of 100,000 characters, the installed version last",
             lambda p: self.patch(targets=[p], versions=long_versions(), patched=[p]), True),
            ("a hundred codes, one of them installed",
             lambda p: self.patch(targets=among_a_hundred(p), patched=[p]), True),
            # The updater finds the product whatever the case of its code and calls the
            # installer, which succeeds; but Wine's msi.dll compares the patch's codes with the
            # product code case-sensitively (strcmpW), so it leaves the product as it was and
            # returns 0 all the same.
            ("product code in lower case",
             lambda p: self.patch(targets=p.code.lower(), patched=[p]), False),
        ]
        for index, (what, make, patched) in enumerate(cases):
            with self.subTest(what):
                product = self.product(f"Hostile Target List {index}")
                outcome = self.execute(self.update(make(product)), self.fresh_tmp())
                self.assertEqual(outcome.boxes, [expected_box(1033, 301, product.name)])
                self.assert_contained(outcome)
                self.assertEqual(sorted(without_run_logs(os.listdir(outcome.tmp))),
                                 [self.log_name(product)])
                self.assert_product(product, UPGRADE if patched else INSTALLED, patched)


# ------------------------------------------------------------------------- temporary folder


@harness.each_build
class HostileTempFolder(HostileCase):
    _outcomes = {}  # runs that several tests read; each build's copy has its own

    def working_update(self, name):
        product = self.product(name)
        return product, self.update(self.patch(targets=[product], patched=[product]))

    def test_missing_tmp_writes_nowhere_else(self):
        # TMP names a folder that does not exist, and GetTempPathW gives TMP back unchecked: there
        # is no temporary folder, and the copy goes neither to a drive root nor to the current
        # folder. The run fails with "path not found" and changes nothing.
        product, exe = self.working_update("Hostile Missing Tmp")
        case = self.case_folder()
        tmp = os.path.join(case, "missing")
        outcome = self.execute(exe, tmp)
        self.assertEqual(outcome.boxes, failure(3))
        self.assert_contained(outcome)
        self.assertEqual(outcome.watch.touched(self.env.drive_c), [])
        self.assertFalse(os.path.exists(tmp))
        self.assert_product(product, INSTALLED, patched=False)

    def test_tmp_naming_a_file(self):
        product, exe = self.working_update("Hostile Tmp File")
        tmp = os.path.join(self.case_folder(), "file")
        with open(tmp, "w") as f:
            f.write("not a folder")
        outcome = self.execute(exe, tmp)
        # TMP is no folder, and neither is the temporary folder GetTempPathW gives (TMP again):
        # path not found.
        self.assertEqual(outcome.boxes, failure(3))
        self.assert_contained(outcome)
        with open(tmp) as f:
            self.assertEqual(f.read(), "not a folder")
        self.assert_product(product, INSTALLED, patched=False)

    def read_only_outcome(self):
        if "read-only" not in self._outcomes:
            # The place of the copies is the Windows folder's Temp; made read-only there, the
            # run cannot make its private folder.
            product, exe = self.working_update("Hostile Read Only")
            tmp = self.fresh_tmp()
            place = self.windows_temp()
            mounted_tmpfs(place, "ro,size=1m")  # root ignores permission bits, not a ro mount
            try:
                outcome = self.execute(exe, tmp)
                listing = without_run_logs(os.listdir(place))
            finally:
                unmount(place)
            self._outcomes["read-only"] = (product, outcome, listing)
        return self._outcomes["read-only"]

    def test_read_only_tmp_folder_changes_nothing(self):
        product, outcome, listing = self.read_only_outcome()
        self.assertEqual(len(outcome.boxes), 1)
        code = re.search(r"Error Code: (-?\d+)$", outcome.boxes[0]["text"])
        self.assertIsNotNone(code, outcome.boxes)
        self.assertEqual(outcome.boxes, failure(int(code.group(1))))
        self.assert_contained(outcome)
        self.assertEqual(listing, [])
        self.assertEqual(outcome.touched_in_tmp(), [])
        self.assert_product(product, INSTALLED, patched=False)

    def test_read_only_tmp_folder_reports_the_creation_error(self):
        _, outcome, _ = self.read_only_outcome()
        self.assertEqual(outcome.boxes, failure(5))

    def test_planted_names_are_left_alone(self):
        product, exe = self.working_update("Hostile Planted")
        case = self.case_folder()
        tmp = os.path.join(case, "t")
        outside = os.path.join(case, "outside")
        os.mkdir(tmp)
        os.mkdir(outside)
        victim = os.path.join(outside, "victim.txt")
        with open(victim, "w") as f:
            f.write("victim")
        with open(os.path.join(tmp, "MSP2"), "w") as f:
            f.write("planted")
        os.mkdir(os.path.join(tmp, "MSP3"))
        os.symlink(victim, os.path.join(tmp, "MSP4"))
        os.symlink(outside, os.path.join(tmp, "MSP5"))
        outcome = self.execute(exe, tmp, watched=[outside, os.path.join(tmp, "MSP3")])
        self.assertEqual(outcome.boxes, [expected_box(1033, 301, product.name)])
        self.assert_contained(outcome)
        self.assertEqual(outcome.payload_copies(), [])  # the copy went to the private folder
        self.assertEqual(sorted(without_run_logs(os.listdir(tmp))),
                         sorted(["MSP2", "MSP3", "MSP4", "MSP5", self.log_name(product)]))
        with open(os.path.join(tmp, "MSP2")) as f:
            self.assertEqual(f.read(), "planted")
        self.assertEqual(os.listdir(os.path.join(tmp, "MSP3")), [])
        self.assertEqual(os.readlink(os.path.join(tmp, "MSP4")), victim)
        self.assertEqual(os.readlink(os.path.join(tmp, "MSP5")), outside)
        with open(victim) as f:
            self.assertEqual(f.read(), "victim")
        self.assertEqual(os.listdir(outside), ["victim.txt"])
        self.assert_product(product, UPGRADE, patched=True)

    def dangling_outcome(self):
        if "dangling" not in self._outcomes:
            product, exe = self.working_update("Hostile Dangling")
            case = self.case_folder()
            tmp, outside = os.path.join(case, "t"), os.path.join(case, "outside")
            os.mkdir(tmp)
            os.mkdir(outside)
            target = os.path.join(outside, "created.msp")
            os.symlink(target, os.path.join(tmp, "MSP2"))
            outcome = self.execute(exe, tmp, watched=[outside])
            self._outcomes["dangling"] = (product, outcome, target)
        return self._outcomes["dangling"]

    def test_dangling_link_at_a_name_writes_nothing_through_it(self):
        # A link to a file that does not exist yet tests as a free name; creating anew refuses
        # to follow it (ERROR_FILE_EXISTS), so nothing appears at the other end.
        product, outcome, target = self.dangling_outcome()
        self.assert_contained(outcome)
        self.assertFalse(os.path.lexists(target))
        self.assertEqual(os.readlink(os.path.join(outcome.tmp, "MSP2")), target)

    def test_dangling_link_at_a_name_moves_on_to_the_next(self):
        # The run's own copy goes to its private folder; "/e" without a path still writes into
        # TMP. There the exclusive creation refuses the link's name (ERROR_FILE_EXISTS) although
        # the existence test, which follows the link, finds it free: the next number is used.
        product, outcome, target = self.dangling_outcome()
        self.assertEqual(outcome.boxes, [expected_box(1033, 301, product.name)])
        self.assertEqual(outcome.payload_copies(), [])
        self.assert_product(product, UPGRADE, patched=True)
        extracted = self.execute(self.update(self.patch(targets=[product])), outcome.tmp,
                                 args=["/e"])
        self.assertEqual(extracted.boxes, [])
        self.assertEqual(extracted.payload_copies(), ["MSP3"])
        self.assertFalse(os.path.lexists(target))


# -------------------------------------------------------------------------------- disk full


@harness.each_build
class HostileDiskFull(HostileCase):
    def test_payload_larger_than_the_free_space(self):
        product = self.product("Hostile Disk Full")
        patch = self.patch(targets=[product], patched=[product])
        padded = patch + ".padded.msp"
        with open(patch, "rb") as source, open(padded, "wb") as f:
            f.write(source.read() + os.urandom(2 << 20))  # trailing bytes after the compound file
        exe = self.update(padded)

        # The copies go to the Windows folder's Temp: that is where the disk is full.
        tmp = self.fresh_tmp()
        place = self.windows_temp()
        mounted_tmpfs(place, "size=1m")
        try:
            outcome = self.execute(exe, tmp)
            left = without_run_logs(os.listdir(place))
        finally:
            unmount(place)
        self.assertEqual(outcome.boxes, failure(112))  # ERROR_DISK_FULL from WriteFile
        self.assert_contained(outcome)
        self.assertEqual(outcome.touched_in_tmp(), [])
        self.assertEqual(len(outcome.private_folders()), 1)
        self.assertEqual(left, [], "the partial payload copy or its folder was left")
        self.assert_product(product, INSTALLED, patched=False)

        # With room enough the same update patches the product: the payload was a working one.
        roomy = self.execute(exe, self.fresh_tmp())
        self.assertEqual(roomy.boxes, [expected_box(1033, 301, product.name)])
        self.assert_product(product, UPGRADE, patched=True)


# --------------------------------------------------------------------------------- products


@harness.each_build
class HostileProducts(HostileCase):
    def run_patch_of(self, product, tmp=None):
        exe = self.update(self.patch(targets=[product], patched=[product]))
        outcome = self.execute(exe, tmp or self.fresh_tmp())
        self.assert_contained(outcome)
        return outcome

    def test_thousand_character_product_name(self):
        name = "".join(f"{i:04d} " for i in range(200))
        self.assertEqual(len(name), 1000)
        product = self.product(name)
        outcome = self.run_patch_of(product)

        # The log path is cut to MAX_PATH: as much of the name as fits before " SP1.log".
        work = self.env.to_windows_path(outcome.tmp)
        kept = MAX_PATH_CHARACTERS - len(work) - 1 - len(LOG_SUFFIX)
        log = name[:kept] + LOG_SUFFIX
        self.assertEqual(without_run_logs(os.listdir(outcome.tmp)), [log])
        self.assertEqual(len(work + "\\" + log), MAX_PATH_CHARACTERS)
        with open(os.path.join(outcome.tmp, log), encoding="utf-8", errors="replace") as f:
            self.assertIn("=== Logging started", f.read())

        # The insert is cut so that the text holds at most the format's length + 511.
        format_length = len(texts(1033)[301])
        self.assertEqual(outcome.boxes, [expected_box(1033, 301, name[:513])])
        self.assertEqual(len(outcome.boxes[0]["text"]), format_length + 511)
        self.assert_product(product, UPGRADE, patched=True)

    def test_language_that_names_no_locale(self):
        # The thread locale is set from the Language value read as a decimal number: "" and
        # "abc" read as 0, which SetThreadLocale takes as the user's default locale (en-US in
        # the test prefix); 99999 is no locale, SetThreadLocale refuses it and the updater falls
        # back to the user's default too, also after a German product of the same list.
        alone = {"": 1033, "abc": 1033, "99999": 1033}
        after_german = {"": 1033, "abc": 1033, "99999": 1033}
        for value, table in alone.items():
            with self.subTest(language=value, alone=True):
                product = self.product(f"Hostile Language {value or 'empty'}")
                fixtures.set_registered_product_info(self.run_windows, product.code, "Language",
                                                     value)
                outcome = self.run_patch_of(product)
                self.assertEqual(outcome.boxes, [expected_box(table, 301, product.name)])
                self.assert_product(product, UPGRADE, patched=True)
        for value, table in after_german.items():
            with self.subTest(language=value, after="German"):
                german = self.product(f"Hostile Deutsch {value or 'leer'}", version=UPGRADE,
                                      language=1031)
                product = self.product(f"Hostile After German {value or 'empty'}")
                fixtures.set_registered_product_info(self.run_windows, product.code, "Language",
                                                     value)
                exe = self.update(self.patch(targets=[german, product], patched=[product]))
                outcome = self.execute(exe, self.fresh_tmp())
                self.assert_contained(outcome)
                # The German product is up to date; the box names the last product of the list.
                self.assertEqual(outcome.boxes, [expected_box(table, 301, product.name)])
                self.assert_product(product, UPGRADE, patched=True)
                self.assert_product(german, UPGRADE, patched=False)


if __name__ == "__main__":
    unittest.main()
