#!/usr/bin/env python3
"""Writes the third-party notices of Kestrine.exe from its link map.

    third_party_notices.py MAP OUTPUT

Every archive and object file that the map shows was linked, and that is not
the project's own, is traced to the Debian package that installed it; the
notices are the parts of that package's copyright file that cover the linked
library. Fails, naming the file, when a linked file maps to no notice.
"""

import os
import re
import subprocess
import sys

# The runtime components that may be linked statically, by file name, with the
# way to find their notice in the owning package's copyright file.
COMPONENTS = [
    {
        "name": "GCC runtime libraries (libgcc, libstdc++), GPL-3.0-or-later "
                "with the GCC Runtime Library Exception 3.1",
        "files": {"libgcc.a", "libgcc_eh.a", "libstdc++.a", "libssp.a",
                  "libssp_nonshared.a", "libatomic.a", "crtbegin.o",
                  "crtend.o", "crtfastmath.o"},
        # The copyright statement with the list of runtime libraries, and the
        # text of the exception itself.
        "sections": [
            (r"^COPYRIGHT STATEMENTS AND LICENSING TERMS$",
             r"^The libbacktrace library is licensed"),
            (r"^GCC RUNTIME LIBRARY EXCEPTION$", r"^libquadmath/"),
        ],
    },
    {
        "name": "MinGW-w64 runtime (mingw-w64-crt)",
        "files": {"libmingw32.a", "libmingwex.a", "libmsvcrt.a",
                  "libmoldname.a", "crt2.o", "crt1.o"},
        "dep5": ("mingw-w64-crt/", None),
    },
    {
        "name": "winpthreads (mingw-w64-libraries/winpthreads)",
        "files": {"libpthread.a", "libwinpthread.a"},
        "dep5": ("mingw-w64-libraries/winpthreads/", "tests_pthread/"),
    },
]


def linked_files(map_path):
    """The archives with a member taken into the link, and the objects loaded."""
    build_dir = os.path.dirname(os.path.abspath(map_path))
    archive = re.compile(r"^(\S+\.a)\(")
    loaded_object = re.compile(r"^LOAD (\S+\.o(bj)?)$")
    found = set()
    with open(map_path, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            match = archive.match(line) or loaded_object.match(line.rstrip())
            if match:
                found.add(os.path.realpath(os.path.join(build_dir, match[1])))
    # The project's own objects and archives are covered by its own licence.
    return sorted(f for f in found if not f.startswith(build_dir + os.sep))


def owning_package(path):
    result = subprocess.run(["dpkg", "-S", path], capture_output=True,
                            text=True)
    if result.returncode != 0:
        return None
    return result.stdout.split(":", 1)[0].strip()


def package_version(package):
    return subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                          capture_output=True, text=True).stdout.strip()


def import_library_dll(path):
    """The DLL an import library stands for, or None for code that is linked."""
    result = subprocess.run(["x86_64-w64-mingw32-dlltool", "--identify", path],
                            capture_output=True, text=True)
    return result.stdout.strip() if result.returncode == 0 else None


def sections(text, bounds):
    parts = []
    for start, end in bounds:
        begin = re.search(start, text, re.M)
        if begin is None:
            return None
        finish = re.compile(end, re.M).search(text, begin.end())
        parts.append(text[begin.start():finish.start() if finish else None])
    return "\n".join(part.rstrip() + "\n" for part in parts)


def dep5_paragraphs(text, prefix, excluded):
    """The Files paragraphs of a machine-readable copyright file that cover
    |prefix| (and the catch-all one), with the licence texts they name."""
    paragraphs = [p.strip("\n") for p in re.split(r"\n\s*\n", text)]
    standalone = {}
    chosen = []
    for paragraph in paragraphs:
        fields = re.match(r"^(Files|License|Format): *(.*)", paragraph)
        if fields is None:
            continue
        if fields[1] == "License":
            standalone[fields[2].strip()] = paragraph
            continue
        if fields[1] != "Files":
            continue
        patterns = re.match(r"^Files:((?:.*\n?)(?:[ \t]+.*\n?)*)",
                            paragraph)[1].split()
        if patterns == ["*"] or any(
                p.startswith(prefix) and not (excluded and excluded in p)
                for p in patterns):
            chosen.append(paragraph)
    if not chosen:
        return None
    named = []
    for paragraph in chosen:
        licence = re.search(r"^License: *(.*)\n?(.*)", paragraph, re.M)
        # A licence given by name alone has its text in a paragraph of its own.
        if licence and not licence[2].startswith(" "):
            for name in re.split(r"\s+(?:and|or)\s+", licence[1].strip()):
                if name in standalone and standalone[name] not in named:
                    named.append(standalone[name])
    return "\n\n".join(chosen + named) + "\n"


def notice(component, copyright_path):
    with open(copyright_path, encoding="utf-8") as file:
        text = file.read()
    if "sections" in component:
        return sections(text, component["sections"])
    return dep5_paragraphs(text, *component["dep5"])


def main(map_path, output_path):
    notices = {}  # component name -> (packages, files, copyright path)
    import_libraries = []
    problems = []
    for path in linked_files(map_path):
        base = os.path.basename(path)
        component = next((c for c in COMPONENTS if base in c["files"]), None)
        if component is None:
            # Import libraries of Windows system DLLs need no notice.
            dll = import_library_dll(path)
            if dll:
                import_libraries.append(f"{base} ({dll})")
            else:
                problems.append(f"{path}: linked, but no notice is known for it")
            continue
        package = owning_package(path)
        if package is None:
            problems.append(f"{path}: linked, but no Debian package owns it")
            continue
        entry = notices.setdefault(component["name"],
                                   {"component": component, "files": [],
                                    "packages": set()})
        entry["files"].append(base)
        entry["packages"].add(package)
    texts = []
    for name, entry in notices.items():
        package = sorted(entry["packages"])[0]
        copyright_path = f"/usr/share/doc/{package}/copyright"
        text = (notice(entry["component"], copyright_path)
                if os.path.exists(copyright_path) else None)
        if not text:
            problems.append(f"{', '.join(entry['files'])}: no notice found in "
                            f"{copyright_path}")
            continue
        packages = ", ".join(f"{p} {package_version(p)}"
                             for p in sorted(entry["packages"]))
        texts.append(
            "=" * 78 + "\n" + name + "\n"
            f"Linked: {', '.join(sorted(set(entry['files'])))}\n"
            f"From the Debian package(s) {packages}, file {copyright_path}\n"
            + "=" * 78 + "\n\n" + text)
    if problems:
        for problem in problems:
            print(f"third-party notices: {problem}", file=sys.stderr)
        return 1
    with open(output_path, "w", encoding="utf-8", newline="\n") as output:
        output.write(
            "Third-party notices for Kestrine.exe\n\n"
            "Kestrine.exe is linked statically with the runtime libraries "
            "below.\nTheir copyright and licence notices follow, as the "
            "toolchain that\nbuilt it ships them.\n\n"
            "Import libraries of Windows system DLLs carry no code of their "
            "own\nand need no notice: " + ", ".join(sorted(import_libraries))
            + ".\n\n" + "\n".join(texts))
    for name, entry in notices.items():
        print(f"third-party notices: {name}: "
              f"{', '.join(sorted(set(entry['files'])))}")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(f"usage: {sys.argv[0]} MAP OUTPUT")
    sys.exit(main(sys.argv[1], sys.argv[2]))
