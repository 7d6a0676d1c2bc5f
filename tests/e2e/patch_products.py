"""Products in several builds for the patch builder's tests and demo: WiX sources written here,
built with wixl, and the patch builder (scripts/build-patch) run over them. Standard library
only."""

import os
import subprocess
from pathlib import Path
from xml.sax.saxutils import quoteattr

import fixtures

ROOT = Path(__file__).resolve().parents[2]
BUILD_PATCH = ROOT / "scripts" / "build-patch"
EPOCH = "1700000000"


def build_product(folder, design):
    """Builds the product design describes with wixl and returns the .msi's path.

    design: {"name", "code", "upgrade", "version",
           "media": "embedded" | "external" | "uncompressed" (beside the .msi),
           "components": [{"id", "guid", "files": {name: bytes}, "key": name,
                           "registry": {value name: text}}],
           "features": {feature id: [component ids]}, "binaries": {Binary key: bytes}}
    Files go to Program Files\\<name>; registry values to HKLM\\Software\\Quorvex\\<name>."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    source = folder / "source"
    components = []
    for c in design["components"]:
        (source / c["id"]).mkdir(parents=True, exist_ok=True)
        lines = [f'<Component Id="{c["id"]}" Guid="{c["guid"]}" Win64="yes">']
        for name, data in c["files"].items():
            path = source / c["id"] / name
            path.write_bytes(data)
            key = ' KeyPath="yes"' if name == c.get("key") else ""
            lines.append(f'  <File Id="{name}" Name="{name}" Source={quoteattr(str(path.relative_to(folder)))}{key}/>')
        for value, text in c.get("registry", {}).items():
            lines.append(f'  <RegistryValue Root="HKLM" Key="Software\\Quorvex\\{design["name"]}" '
                         f'Name="{value}" Value={quoteattr(text)} Type="string"/>')
        lines.append("</Component>")
        components.append("\n".join(lines))
    features = "\n".join(
        f'<Feature Id="{f}" Level="1">' + "".join(f'<ComponentRef Id="{c}"/>' for c in refs)
        + "</Feature>" for f, refs in design["features"].items())
    binaries = []
    for key, data in design.get("binaries", {}).items():
        path = source / f"{key}.bin"
        source.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        binaries.append(f'<Binary Id="{key}" SourceFile={quoteattr(str(path.relative_to(folder)))}/>')
    embed = "yes" if design.get("media", "embedded") == "embedded" else "no"
    wxs = f"""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{design['code']}" Name={quoteattr(design['name'])} Language="1033"
           Version="{design['version']}" Manufacturer="Quorvex" UpgradeCode="{design['upgrade']}">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="product.cab" EmbedCab="{embed}"/>
    {"".join(binaries)}
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFiles64Folder">
        <Directory Id="INSTALLDIR" Name={quoteattr(design['name'])}>
{chr(10).join(components)}
        </Directory>
      </Directory>
    </Directory>
{features}
  </Product>
</Wix>
"""
    (folder / "product.wxs").write_text(wxs)
    msi = folder / "product.msi"
    subprocess.run(["wixl", "-a", "x64", "-o", str(msi), str(folder / "product.wxs")],
                   check=True, capture_output=True, cwd=folder)
    if design.get("media") == "uncompressed":
        # wixl cannot leave files uncompressed: its Media row loses its cabinet here, and the
        # files are laid out in the source tree beside the .msi (Program Files\<name>).
        export = folder / "media-export"
        export.mkdir(exist_ok=True)
        media = subprocess.run(["msiinfo", "export", str(msi), "Media"], check=True,
                               capture_output=True, text=True).stdout
        lines = media.replace("\r\n", "\n").split("\n")
        fields = lines[3].split("\t")
        fields[3] = ""
        lines[3] = "\t".join(fields)
        (export / "Media.idt").write_text("\r\n".join(lines))
        subprocess.run(["msibuild", str(msi), "-i", str(export / "Media.idt")], check=True,
                       capture_output=True)
        tree = folder / design["name"]
        tree.mkdir(exist_ok=True)
        for c in design["components"]:
            for name, data in c["files"].items():
                (tree / name).write_bytes(data)
    elif embed == "no":
        # wixl names the external cabinet but does not write it: it is made here, the files in
        # the order of their sequence numbers, each named by its File key.
        rows = subprocess.run(["msiinfo", "export", str(msi), "File"], check=True,
                              capture_output=True, text=True).stdout.splitlines()[3:]
        by_key = {c_file: source / c["id"] / c_file for c in design["components"]
                  for c_file in c["files"]}
        ordered = sorted((int(r.split("\t")[7]), r.split("\t")[0]) for r in rows if r)
        subprocess.run(["gcab", "-c", "-z", "-n", str(folder / "product.cab"),
                        *(str(by_key[key]) for _, key in ordered)], check=True,
                       capture_output=True)
    return msi


def product_design(name, version, files, registry=None, extra_components=()):
    """A product with one main component (files, registry) and further components."""
    code = fixtures.derived_guid(name, "product")
    return {
        "name": name, "code": code, "upgrade": fixtures.derived_guid(name, "upgrade"),
        "version": version,
        "components": [{"id": "Main", "guid": fixtures.derived_guid(name, "main"),
                        "files": dict(files), "key": next(iter(files)),
                        "registry": dict(registry or {"Version": version})},
                       *extra_components],
        "features": {"Complete": ["Main", *(c["id"] for c in extra_components)]},
    }


def build_patch(output, olds, new, *extra, env=None):
    """Runs scripts/build-patch; gives the completed process (not checked)."""
    args = [str(BUILD_PATCH)]
    for old in olds:
        args += ["--old", str(old)]
    args += ["--new", str(new), "--output", str(output), *extra]
    full_env = dict(os.environ, SOURCE_DATE_EPOCH=EPOCH, **(env or {}))
    return subprocess.run(args, capture_output=True, text=True, env=full_env)


def checked_patch(output, olds, new, *extra):
    result = build_patch(output, olds, new, *extra)
    if result.returncode != 0:
        raise AssertionError(f"build-patch failed: {result.stderr}")
    return Path(output)


def source_files(design):
    return {name: data for c in design["components"] for name, data in c["files"].items()}


def installed_files(env, name):
    """The product's installed files: {relative path: bytes}."""
    base = Path(env.drive_c) / "Program Files" / name
    if not base.exists():
        return None
    return {str(p.relative_to(base)): p.read_bytes() for p in sorted(base.rglob("*"))
            if p.is_file()}
