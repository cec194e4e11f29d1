"""The version resources of the Windows modules, read as Windows reads them.

Usage: version_resource_check.py VERSION FLAVOUR MODULE...
FLAVOUR is "production" or "simulator". Each module must carry a VERSIONINFO
resource with file and product version VERSION (in the fixed part and in the
strings), the product name, its own file name and a description, which in
the simulator flavour says that it is the simulator and in the production
flavour does not.
"""
import os
import sys

import pefile


def strings_of(pe):
    found = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            if entry.Key == b"StringFileInfo":
                for table in entry.StringTable:
                    for key, value in table.entries.items():
                        found[key.decode()] = value.decode()
    return found


def check(path, version, flavour):
    problems = []
    pe = pefile.PE(path)
    if not hasattr(pe, "VS_FIXEDFILEINFO"):
        return ["no VERSIONINFO resource"]
    fixed = pe.VS_FIXEDFILEINFO[0]
    parts = [int(p) for p in version.split(".")] + [0]
    expected_ms = (parts[0] << 16) | parts[1]
    expected_ls = (parts[2] << 16) | parts[3]
    if (fixed.FileVersionMS, fixed.FileVersionLS) != (expected_ms, expected_ls):
        problems.append("file version %d.%d.%d.%d" % (
            fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
            fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF))
    if (fixed.ProductVersionMS, fixed.ProductVersionLS) != (expected_ms, expected_ls):
        problems.append("product version differs from %s" % version)
    strings = strings_of(pe)
    for key, want in (("FileVersion", version), ("ProductVersion", version),
                      ("ProductName", "nadixq"),
                      ("OriginalFilename", os.path.basename(path))):
        if strings.get(key) != want:
            problems.append("%s is %r, not %r" % (key, strings.get(key), want))
    description = strings.get("FileDescription", "")
    if not description.startswith("nadixq "):
        problems.append("FileDescription %r does not name the product" % description)
    says_simulator = "SIMULATOR" in description
    if says_simulator != (flavour == "simulator"):
        problems.append("FileDescription %r in the %s flavour" % (description, flavour))
    return problems


def main(argv):
    version, flavour = argv[1], argv[2]
    modules = [path for path in argv[3:] if path]  # a module not built is left out
    failed = False
    for path in modules:
        problems = check(path, version, flavour)
        for problem in problems:
            print("%s: %s" % (path, problem))
        failed = failed or bool(problems)
        if not problems:
            print("%s: version resource %s, %s flavour" % (path, version, flavour))
    return 1 if failed or not modules else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
