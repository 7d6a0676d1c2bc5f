"""Packaging as a release engineer does it: the same bytes from the same inputs whenever and
wherever packaged (Linux, and the Windows packer under Wine), and a signed update that verifies
and still runs."""

import hashlib
import json
import os
import subprocess
import tempfile
import time
import unittest

import pefile

import harness
from test_executable import build_dir, resources
from updates import ROOT, build_update, random_file, read_bytes, work_folder

PACKER = os.path.join(ROOT, "build", "packer", "tools", "packer", "packer")


def payload_set(folder):
    return {
        "global_payload": random_file(folder, "global.msp", 2_500_003),
        "language_pack": random_file(folder, "lp.msp", 4097),
        "product_specific": random_file(folder, "ps.msp", 1),
    }


class Reproducible(unittest.TestCase):
    def test_same_bytes_from_two_packagings_a_second_apart(self):
        with tempfile.TemporaryDirectory() as work:
            payloads = payload_set(work)
            for arch in ("x86", "x64"):
                with self.subTest(arch=arch):
                    first = build_update(os.path.join(work, f"first-{arch}.exe"), arch=arch,
                                         validate=False, **payloads)
                    time.sleep(1.1)
                    second = build_update(os.path.join(work, f"second-{arch}.exe"), arch=arch,
                                          validate=False, **payloads)
                    self.assertEqual(read_bytes(first), read_bytes(second))
                    pe = pefile.PE(first)
                    self.assertEqual(pe.FILE_HEADER.TimeDateStamp, 0)
                    self.assertEqual(pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum())
                    self.assertNotEqual(pe.OPTIONAL_HEADER.CheckSum, 0)
                    # The control: other payload bytes give another file.
                    changed = os.path.join(work, "ps-changed.msp")
                    with open(changed, "wb") as f:
                        f.write(bytes(b ^ 0xFF for b in read_bytes(payloads["product_specific"])))
                    third = build_update(os.path.join(work, f"third-{arch}.exe"), arch=arch,
                                         validate=False,
                                         **dict(payloads, product_specific=changed))
                    self.assertNotEqual(read_bytes(third), read_bytes(first))

    def test_the_windows_packer_under_wine_writes_the_linux_packers_bytes(self):
        env = harness.shared_env()
        folder = work_folder(env, "packer")
        payloads = payload_set(folder)
        windows_packer = harness.artefact("tools", "packer", "packer.exe")
        for arch in ("x86", "x64"):
            with self.subTest(arch=arch):
                stub = os.path.join(build_dir(arch), "updater.exe")
                linux = build_update(os.path.join(folder, f"linux-{arch}.exe"), arch=arch,
                                     validate=False, **payloads)
                windows = os.path.join(folder, f"windows-{arch}.exe")
                result = env.wine([windows_packer, "--stub", env.to_windows_path(stub),
                                   "--global", env.to_windows_path(payloads["global_payload"]),
                                   "--language-pack",
                                   env.to_windows_path(payloads["language_pack"]),
                                   "--product-specific",
                                   env.to_windows_path(payloads["product_specific"]),
                                   "--no-validate", "--output", env.to_windows_path(windows)])
                self.assertEqual(result.exit_code, 0, result)
                self.assertEqual(read_bytes(windows), read_bytes(linux))
        # An existing output is replaced.
        replaced = os.path.join(folder, "windows-x64.exe")
        result = env.wine([windows_packer, "--stub",
                           env.to_windows_path(os.path.join(build_dir("x86"), "updater.exe")),
                           "--global", env.to_windows_path(payloads["global_payload"]),
                           "--language-pack", env.to_windows_path(payloads["language_pack"]),
                           "--product-specific",
                           env.to_windows_path(payloads["product_specific"]),
                           "--no-validate", "--output", env.to_windows_path(replaced)])
        self.assertEqual(result.exit_code, 0, result)
        self.assertEqual(read_bytes(replaced), read_bytes(os.path.join(folder, "linux-x86.exe")))
        # The Windows packer refuses as the Linux one does, and leaves nothing behind.
        empty = os.path.join(folder, "empty.msp")
        open(empty, "wb").close()
        refused = os.path.join(folder, "refused.exe")
        result = env.wine([windows_packer, "--stub",
                           env.to_windows_path(os.path.join(build_dir("x64"), "updater.exe")),
                           "--global", env.to_windows_path(empty),
                           "--output", env.to_windows_path(refused)])
        self.assertNotEqual(result.exit_code, 0, result)
        self.assertIn("empty", result.stderr)
        self.assertFalse(os.path.exists(refused))
        self.assertFalse(os.path.exists(refused + ".partial"))


class Options(unittest.TestCase):
    def test_no_validate_packages_random_bytes(self):
        with tempfile.TemporaryDirectory() as work:
            payload = random_file(work, "random.bin", 70_001)
            output = build_update(os.path.join(work, "update.exe"), payload, arch="x86",
                                  extra=["--no-validate"])
            data = resources(pefile.PE(output))["MSP"]["IDR_MSP"][1033]
            self.assertEqual(data, read_bytes(payload))

    def test_half_a_signing_identity_is_refused_without_output(self):
        with tempfile.TemporaryDirectory() as work:
            payload = random_file(work, "random.bin", 100)
            output = os.path.join(work, "update.exe")
            for extra in (["--sign-cert", payload], ["--sign-key", payload],
                          ["--sign-cert", os.path.join(work, "none.pem"), "--sign-key", payload]):
                result = subprocess.run(
                    [os.path.join(ROOT, "scripts", "build-update"), "--global", payload,
                     "--output", output, *extra], capture_output=True, text=True)
                self.assertNotEqual(result.returncode, 0, extra)
                self.assertIn("build-update: --sign", result.stderr)
                self.assertFalse(os.path.exists(output), extra)


class Signed(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.env = harness.shared_env()
        cls.folder = work_folder(cls.env, "signed")
        cls.cert = os.path.join(cls.folder, "cert.pem")
        cls.key = os.path.join(cls.folder, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=Quorvex Test Publisher", "-keyout", cls.key,
                        "-out", cls.cert], check=True, capture_output=True)
        cls.payload = random_file(cls.folder, "global.msp", 3_000_017)
        cls.build = harness.first_build()
        cls.exe = build_update(os.path.join(cls.folder, "signed.exe"), cls.payload, validate=False,
                               build=cls.build,
                               extra=["--sign-cert", cls.cert, "--sign-key", cls.key])

    def verify(self, path):
        return subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, "-in", path],
                              capture_output=True, text=True)

    def test_signature_verifies_and_a_changed_payload_breaks_it(self):
        result = self.verify(self.exe)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("Signature verification: ok", result.stdout)
        self.assertIn("sha256", result.stdout.lower())
        pe = pefile.PE(self.exe)
        security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[4]
        self.assertGreater(security.Size, 0)
        self.assertEqual(pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum())
        # The control: one byte of the payload changed, the same signature no longer verifies.
        data = bytearray(read_bytes(self.exe))
        entry = pe.DIRECTORY_ENTRY_RESOURCE
        msp = next(t for t in entry.entries if str(t.name) == "MSP")
        rva = msp.directory.entries[0].directory.entries[0].data.struct.OffsetToData
        data[pe.get_offset_from_rva(rva) + 1000] ^= 0xFF
        tampered = os.path.join(self.folder, "tampered.exe")
        with open(tampered, "wb") as f:
            f.write(data)
        result = self.verify(tampered)
        self.assertNotEqual(result.returncode, 0, result.stdout)

    def test_the_signature_is_added_to_the_reproducible_update_and_nothing_else(self):
        unsigned = build_update(os.path.join(self.folder, "unsigned.exe"), self.payload,
                                validate=False, build=self.build)
        stripped = os.path.join(self.folder, "stripped.exe")
        subprocess.run(["osslsigncode", "remove-signature", "-in", self.exe, "-out", stripped],
                       check=True, capture_output=True)
        self.assertEqual(read_bytes(stripped), read_bytes(unsigned))
        # With its signing time fixed, signing is reproducible as well.
        os.environ["SOURCE_DATE_EPOCH"] = "1700000000"
        try:
            signed = [build_update(os.path.join(work_folder(self.env, "fixed"), "fixed.exe"),
                                   self.payload,
                                   validate=False, build=self.build,
                                   extra=["--sign-cert", self.cert, "--sign-key", self.key])
                      for _ in range(2)]
        finally:
            del os.environ["SOURCE_DATE_EPOCH"]
        self.assertEqual(read_bytes(signed[0]), read_bytes(signed[1]))
        self.assertNotEqual(read_bytes(signed[0]), read_bytes(self.exe))
        self.assertEqual(self.verify(signed[0]).returncode, 0)
        # The deployment descriptor names the signed file as written, reproducibly too.
        described = [json.loads(read_bytes(exe + ".json")) for exe in signed]
        self.assertEqual(described[0]["update"]["sha256"],
                         hashlib.sha256(read_bytes(signed[0])).hexdigest())
        self.assertEqual(described[0]["update"]["size"], os.path.getsize(signed[0]))
        self.assertEqual(json.loads(read_bytes(unsigned + ".json"))["update"]["sha256"],
                         hashlib.sha256(read_bytes(unsigned)).hexdigest())
        self.assertEqual(read_bytes(signed[0] + ".json"), read_bytes(signed[1] + ".json"))

    def test_signed_update_extracts_its_payload_byte_for_byte(self):
        target = os.path.join(work_folder(self.env, "signed-out"), "Fix.msp")
        result = self.env.run(self.exe, ["/e", self.env.to_windows_path(target)])
        self.assertEqual(result.exit_code, 0, result)
        self.assertEqual(result.boxes, [])
        self.assertEqual(read_bytes(target), read_bytes(self.payload))


if __name__ == "__main__":
    unittest.main()
