"""Fixtures for the end-to-end tests under Wine: installable products, patch packages, and
queries of what the Windows Installer registered.

Products are built on the Linux side with wixl (msitools). Patches are written by
tools/make_patch/make_patch.exe and products are queried with tools/msiquery/msiquery.exe; both
run under Wine through a callable the harness supplies:

    run_windows_program(argv) -> (exit_code, stdout, stderr)

where argv[0] is the program (the Linux path of an .exe, or the name of a Wine built-in such as
"msiexec") and the other elements are passed to it unchanged. Paths handed to Windows programs
are converted here to Wine's Z: drive.

The built tools are found in the directory of the mingw x86_64 build, given as an argument or by
the environment variable UPDATER_BUILD_X64 (<build>/tools/make_patch/make_patch.exe,
<build>/tools/msiquery/msiquery.exe).

Standard library only.
"""

import json
import os
import struct
import subprocess
import uuid
from pathlib import Path
from xml.sax.saxutils import escape

REPO = Path(__file__).resolve().parents[2]
WXS_TEMPLATE = REPO / "tools" / "wix" / "product.wxs.in"

# Longer values go to make_patch through a file: a Windows command line holds 32,767 characters.
_LONGEST_INLINE_VALUE = 4000

# The code page of a product's database when the caller names none: the ANSI code page of its
# language, so that the product behaves as one built by Windows tools would. Languages missing
# here get 1252.
_LANGUAGE_CODEPAGES = {
    1025: 1256, 1028: 950, 1029: 1250, 1032: 1253, 1037: 1255, 1038: 1250, 1041: 932,
    1042: 949, 1045: 1250, 1049: 1251, 1051: 1250, 1054: 874, 1055: 1254, 1058: 1251,
    2052: 936,
}

VT_I2, VT_I4, VT_LPSTR, VT_FILETIME = 2, 3, 30, 64


class FixtureError(RuntimeError):
    pass


def windows_path(path):
    """The path under Wine's Z: drive, which maps to the Linux root."""
    return "Z:" + os.path.abspath(os.fspath(path)).replace("/", "\\")


def new_guid():
    return "{%s}" % str(uuid.uuid4()).upper()


def derived_guid(seed, purpose):
    """A GUID fixed by seed and purpose, so that rebuilt fixtures are identical."""
    return "{%s}" % str(uuid.uuid5(uuid.NAMESPACE_URL, f"quorvex:{purpose}:{seed}")).upper()


def tool_path(name, build_dir=None):
    base = build_dir or os.environ.get("UPDATER_BUILD_X64")
    if not base:
        raise FixtureError(f"no build directory for {name}.exe: pass one or set UPDATER_BUILD_X64")
    path = Path(base) / "tools" / name / f"{name}.exe"
    if not path.is_file():
        raise FixtureError(f"{path} does not exist: build the mingw x86_64 tree first")
    return path


def _run_checked(run_windows_program, argv, what):
    code, out, err = run_windows_program([str(a) for a in argv])
    if code != 0:
        raise FixtureError(f"{what} failed with exit code {code}\nstdout: {out}\nstderr: {err}")
    return out


def _run_json(run_windows_program, argv, what):
    out = _run_checked(run_windows_program, argv, what)
    try:
        return json.loads(out)
    except ValueError:
        # A process that crashes under Wine may still exit with 0; its output is then a crash
        # report or nothing.
        raise FixtureError(f"{what} printed no report\nstdout: {out}") from None


def _run_linux(argv, what, cwd=None):
    result = subprocess.run(argv, capture_output=True, encoding="utf-8", cwd=cwd)
    if result.returncode != 0:
        raise FixtureError(f"{what} failed ({result.returncode}): {result.stderr.strip()}")
    return result.stdout


# ---------------------------------------------------------------------------------------------
# Products


def default_codepage(language, name):
    """The language's ANSI code page if it can hold the name, else UTF-8 (which Wine accepts as
    a database code page and Windows does not)."""
    try:
        codepage = _LANGUAGE_CODEPAGES.get(int(language), 1252)
    except (TypeError, ValueError):
        codepage = 1252
    try:
        name.encode(f"cp{codepage}")
        return codepage
    except UnicodeEncodeError:
        return 65001


def build_product_msi(out_dir, product_code, name, language, version, upgrade_code=None,
                      codepage=None, wixl="wixl"):
    """Builds an x64 product with one component holding one small file and returns the .msi.

    The product name may hold any characters but tab, CR and LF. wixl writes every string in
    code page 1252 and ignores Codepage attributes (a name it cannot encode comes out empty), so
    the database is built with an ASCII stand-in for the name; then msibuild sets the database
    code page (codepage, default: see default_codepage) and writes the real ProductName.
    """
    out_dir = Path(out_dir)
    out_dir.mkdir(parents=True, exist_ok=True)
    if any(c in name for c in "\t\r\n"):
        raise ValueError("product names with tab, CR or LF cannot be written to the database")
    upgrade_code = upgrade_code or derived_guid(product_code, "upgrade")
    codepage = codepage or default_codepage(language, name)
    stem = f"product-{product_code.strip('{}')}-{version}"
    work = out_dir / (stem + ".work")
    work.mkdir(exist_ok=True)
    payload = work / "payload.txt"
    payload.write_text(f"{product_code} {version}\n")

    stand_in = name.encode("ascii", "replace").decode("ascii")
    values = {
        "PRODUCT_CODE": product_code,
        "NAME": stand_in,
        "LANGUAGE": str(language),
        "VERSION": version,
        "UPGRADE_CODE": upgrade_code,
        "DIRECTORY": product_code.strip("{}").replace("-", ""),
        "COMPONENT_GUID": derived_guid(product_code, "component"),
        "PAYLOAD": payload.name,  # wixl looks sources up relative to its working directory
    }
    text = WXS_TEMPLATE.read_text(encoding="utf-8")
    for key, value in values.items():
        text = text.replace(f"@{key}@", escape(value, {'"': "&quot;"}))
    wxs = work / "product.wxs"
    wxs.write_text(text, encoding="utf-8")
    msi = out_dir / (stem + ".msi")
    _run_linux([wixl, "-a", "x64", "-o", str(msi.resolve()), wxs.name], "wixl", cwd=work)

    (work / "_ForceCodepage.idt").write_bytes(b"\r\n\r\n%d\t_ForceCodepage\r\n" % codepage)
    _run_linux(["msibuild", str(msi), "-i", str(work / "_ForceCodepage.idt")], "msibuild codepage")
    # msitools exchange tables as UTF-8 text and convert to the database code page themselves.
    rows = _run_linux(["msiinfo", "export", str(msi), "Property"], "msiinfo export").splitlines()
    named = [f"ProductName\t{name}" if r.startswith("ProductName\t") else r for r in rows]
    if named == rows and stand_in != name:
        raise FixtureError("no ProductName row in the Property table wixl wrote")
    (work / "Property.idt").write_bytes(("\r\n".join(named) + "\r\n").encode("utf-8"))
    _run_linux(["msibuild", str(msi), "-i", str(work / "Property.idt")], "msibuild Property")
    return msi


def install_product(run_windows_program, msi_path):
    _run_checked(run_windows_program, ["msiexec", "/i", windows_path(msi_path), "/qn"],
                 f"installing {msi_path}")


def uninstall_product(run_windows_program, product_code):
    _run_checked(run_windows_program, ["msiexec", "/x", product_code, "/qn"],
                 f"removing {product_code}")


# ---------------------------------------------------------------------------------------------
# Patches


def make_patch(run_windows_program, out_path, targets=None, versions=None, patch_code=None,
               transform=None, transforms=(), transform_list=None, exe=None, build_dir=None,
               **hostile):
    """Writes a patch package with make_patch.exe and returns its path.

    targets: property 7, a string or a list of product codes (joined with ";").
    versions: property 5 as written ("<upgradeVersion>;<target>,<target>"); when None and there
        are transforms, make_patch writes "<to>;<from>" of the first.
    patch_code: property 9; give one to find the patch later with query_product, otherwise
        make_patch invents one.
    transform: (from_version, to_version, product_code, upgrade_code) for one transform "T1".
    transforms: (name, from_version, to_version, product_code, upgrade_code) tuples, one
        substorage each; a patch for several products carries one per product.
    transform_list: property 8 as written (default ":T1;:T2..." from the transforms).

    hostile options (all default off):
        no_prop7, no_prop5: leave the property out
        prop7_int, prop5_int: write the property as VT_I4 with this value
        props {id: text}, int_props {id: int}, omit_props [id]: any summary property
        no_string_pool, no_summary, wrong_class, root_class="{GUID}"
        validate (transform validation flags, default 2: product code), transform_template,
        codepage (property 1; 0 leaves it out), title
    Text values are written exactly as VT_LPSTR and must be ASCII.
    """
    exe = exe or tool_path("make_patch", build_dir)
    out_path = Path(out_path)
    out_path.parent.mkdir(parents=True, exist_ok=True)
    argv = [exe, "--out", windows_path(out_path)]
    side_files = []

    def side_file(value):
        # Values too long for a command line travel in a file next to the patch.
        path = out_path.with_name(f"{out_path.name}.value{len(side_files) + 1}.txt")
        path.write_bytes(value.encode("ascii"))
        side_files.append(path)
        return windows_path(path)

    def text_option(option, file_option, value):
        value.encode("ascii")
        if len(value) <= _LONGEST_INLINE_VALUE:
            argv.extend([option, value])
        else:
            argv.extend([file_option, side_file(value)])

    if targets is not None:
        text_option("--targets", "--targets-file",
                    targets if isinstance(targets, str) else ";".join(targets))
    if versions is not None:
        text_option("--versions", "--versions-file", versions)
    if patch_code:
        argv.extend(["--patch-code", patch_code])
    if transform_list is not None:
        argv.extend(["--transforms", transform_list])
    if transform:
        from_version, to_version, product_code, upgrade_code = transform
        argv.extend(["--transform-from", from_version, "--transform-to", to_version,
                     "--product-code", product_code, "--upgrade-code", upgrade_code])
    for spec in transforms:
        argv.extend(["--transform", ",".join(spec)])

    options = dict(hostile)
    flags = {"no_prop7": "--no-prop7", "no_prop5": "--no-prop5", "no_string_pool":
             "--no-string-pool", "no_summary": "--no-summary", "wrong_class": "--wrong-class"}
    valued = {"prop7_int": "--prop7-int", "prop5_int": "--prop5-int", "root_class":
              "--root-class", "validate": "--validate", "transform_template":
              "--transform-template", "codepage": "--codepage", "title": "--title"}
    for key, option in flags.items():
        if options.pop(key, False):
            argv.append(option)
    for key, option in valued.items():
        if key in options:
            argv.extend([option, str(options.pop(key))])
    for value_id, value in options.pop("props", {}).items():
        value.encode("ascii")
        if len(value) <= _LONGEST_INLINE_VALUE:
            argv.extend(["--prop", f"{value_id}={value}"])
        else:
            argv.extend(["--prop-file", f"{value_id}={side_file(value)}"])
    for value_id, value in options.pop("int_props", {}).items():
        argv.extend(["--prop-int", f"{value_id}={value}"])
    for value_id in options.pop("omit_props", ()):
        argv.extend(["--omit-prop", str(value_id)])
    if options:
        raise TypeError(f"unknown make_patch options: {sorted(options)}")

    try:
        _run_checked(run_windows_program, argv, "make_patch")
    finally:
        for path in side_files:
            path.unlink()
    return out_path


def apply_patch(run_windows_program, msp_path):
    """msiexec /p: applies the patch to each installed product it names and returns the exit
    code. Under Wine that is 0 for a patch of the wrong class or one whose transforms do not
    apply, and otherwise the installer error modulo 256 (1605 gives 69, 1627 gives 91): check
    the effect with query_product."""
    code, _, _ = run_windows_program(["msiexec", "/p", windows_path(msp_path), "/qn"])
    return code


def configure_product(run_windows_program, product_code, command_line, log_path=None, exe=None,
                      build_dir=None):
    """MsiConfigureProductExW(product_code, 0, INSTALLSTATE_DEFAULT, command_line) with no UI,
    as the updater calls it; returns the result code."""
    argv = [exe or tool_path("msiquery", build_dir), "configure", product_code, command_line]
    if log_path:
        argv.append(windows_path(log_path))
    return _run_json(run_windows_program, argv, "msiquery configure")["rc"]


def patch_command_line(msp_path):
    return f'PATCH="{windows_path(msp_path)}"'


# ---------------------------------------------------------------------------------------------
# Queries


def query_products(run_windows_program, product_codes, exe=None, build_dir=None):
    """For each code: {"code", "state" (MsiQueryProductStateW), "name", "language", "version"
    (MsiGetProductInfoW, None when it fails), "patches" (codes from MsiEnumPatchesW, in order),
    "transforms" (the transform list of each patch), "raw" (everything msiquery printed)}."""
    argv = [exe or tool_path("msiquery", build_dir), "product", *product_codes]
    report = _run_json(run_windows_program, argv, "msiquery product")
    results = []
    for p in report["products"]:
        results.append({
            "code": p["code"],
            "state": p["state"],
            "name": p["ProductName"]["value"],
            "language": p["Language"]["value"],
            "version": p["VersionString"]["value"],
            "patches": [q["code"] for q in p["patches"]["list"]],
            "transforms": {q["code"]: q["transforms"] for q in p["patches"]["list"]},
            "raw": p,
        })
    return results


def query_product(run_windows_program, product_code, exe=None, build_dir=None):
    return query_products(run_windows_program, [product_code], exe, build_dir)[0]


def squashed_guid(code):
    """The form in which the installer names a product in the registry."""
    h = code.strip("{}").replace("-", "")
    pairs = "".join(h[i + 1] + h[i] for i in range(16, 32, 2))
    return h[0:8][::-1] + h[8:12][::-1] + h[12:16][::-1] + pairs


def set_registered_product_info(run_windows_program, product_code, name, value):
    """Overwrites a value MsiGetProductInfoW reads from the product's advertising key
    (HKLM\\Software\\Classes\\Installer\\Products\\<squashed code>), e.g. "Language" or
    "ProductName", with the text value (REG_SZ). This gives values no package can produce
    under Wine, which always registers Language as a number: "", "abc"."""
    key = "HKLM\\Software\\Classes\\Installer\\Products\\" + squashed_guid(product_code)
    _run_checked(run_windows_program, ["reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value,
                                       "/f"], f"setting {name} of {product_code}")


def read_summary(run_windows_program, package_path, exe=None, build_dir=None):
    """The summary information as msi.dll gives it: (rc, {id: (type, value)}). Wine converts a
    property stored with an unexpected type to the expected one, so read_summary_stream shows
    what the file really holds."""
    argv = [exe or tool_path("msiquery", build_dir), "summary", windows_path(package_path)]
    report = _run_json(run_windows_program, argv, "msiquery summary")
    return report["rc"], {int(k): (v["type"], v.get("value"))
                          for k, v in report["properties"].items()}


# ---------------------------------------------------------------------------------------------
# Reading the files directly, independent of msi.dll


def read_compound_file(path):
    """The storages and streams of an OLE compound file: {path tuple: bytes} for streams and
    {path tuple: uuid.UUID} (the class) for storages, the root under ()."""
    data = Path(path).read_bytes()
    if data[:8] != bytes.fromhex("D0CF11E0A1B11AE1"):
        raise FixtureError(f"{path} is not a compound file")
    sector_size = 1 << struct.unpack_from("<H", data, 30)[0]
    mini_size = 1 << struct.unpack_from("<H", data, 32)[0]
    (fat_sectors, first_dir, _, cutoff, first_minifat, _, first_difat,
     difat_sectors) = struct.unpack_from("<8I", data, 44)
    per_sector = sector_size // 4

    def sector(n):
        return data[(n + 1) * sector_size:(n + 2) * sector_size]

    difat = list(struct.unpack_from("<109I", data, 76))
    next_difat = first_difat
    for _ in range(difat_sectors):
        entries = struct.unpack(f"<{per_sector}I", sector(next_difat))
        difat += entries[:-1]
        next_difat = entries[-1]
    fat = []
    for s in difat[:fat_sectors]:
        fat += struct.unpack(f"<{per_sector}I", sector(s))

    def chain(start, table):
        while start < 0xFFFFFFFA:
            yield start
            start = table[start]

    def read(start, size):
        return b"".join(sector(s) for s in chain(start, fat))[:size]

    directory = read(first_dir, 1 << 62)
    entries = []
    for offset in range(0, len(directory), 128):
        e = directory[offset:offset + 128]
        name_bytes = struct.unpack_from("<H", e, 64)[0]
        left, right, child = struct.unpack_from("<3I", e, 68)
        start, size = struct.unpack_from("<IQ", e, 116)
        entries.append({
            "name": e[:max(name_bytes - 2, 0)].decode("utf-16-le", "surrogatepass"),
            "type": e[66], "left": left, "right": right, "child": child,
            "class": uuid.UUID(bytes_le=e[80:96]), "start": start,
            "size": size & 0xFFFFFFFF if sector_size == 512 else size,
        })
    root = entries[0]
    ministream = read(root["start"], root["size"])
    minifat = []
    for s in chain(first_minifat, fat):
        minifat += struct.unpack(f"<{per_sector}I", sector(s))

    def read_mini(start, size):
        return b"".join(ministream[s * mini_size:(s + 1) * mini_size]
                        for s in chain(start, minifat))[:size]

    result = {(): root["class"]}

    def walk(index, parent):
        if index >= 0xFFFFFFFA:
            return
        e = entries[index]
        walk(e["left"], parent)
        walk(e["right"], parent)
        path = parent + (e["name"],)
        if e["type"] == 2:
            result[path] = (read_mini if e["size"] < cutoff else read)(e["start"], e["size"])
        elif e["type"] == 1:
            result[path] = e["class"]
            walk(e["child"], path)

    walk(root["child"], ())
    return result


def encode_table_stream_name(name):
    """The name under which an installer database stores the stream of table `name`."""
    alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._"
    out, i = "\u4840", 0
    while i < len(name):
        first = alphabet.find(name[i])
        second = alphabet.find(name[i + 1]) if i + 1 < len(name) else -1
        if first < 0:
            out += name[i]
        elif second >= 0:
            out += chr(0x3800 + first + (second << 6))
            i += 1
        else:
            out += chr(0x4800 + first)
        i += 1
    return out


SUMMARY_STREAM = "\x05SummaryInformation"


def read_summary_stream(data):
    """The properties of a summary information stream as stored: {id: (type, value)}; text as
    bytes, exactly as written."""
    if struct.unpack_from("<H", data, 0)[0] != 0xFFFE:
        raise FixtureError("not a property set")
    section = struct.unpack_from("<I", data, 44)[0]
    count = struct.unpack_from("<I", data, section + 4)[0]
    properties = {}
    for i in range(count):
        pid, offset = struct.unpack_from("<II", data, section + 8 + 8 * i)
        at = section + offset
        vt = struct.unpack_from("<I", data, at)[0]
        if vt == VT_LPSTR:
            length = struct.unpack_from("<I", data, at + 4)[0]
            properties[pid] = (vt, data[at + 8:at + 8 + length].rstrip(b"\0"))
        elif vt == VT_I2:
            properties[pid] = (vt, struct.unpack_from("<h", data, at + 4)[0])
        elif vt == VT_I4:
            properties[pid] = (vt, struct.unpack_from("<i", data, at + 4)[0])
        else:
            properties[pid] = (vt, data[at + 4:at + 12])
    return properties

